#include "platform/ui/Idiom.h"

#include <QtGlobal>

namespace ui {

Idiom userInterfaceIdiom() {
    const QString value = qEnvironmentVariable("DRAVIX_IDIOM").trimmed().toLower();
    if (value == QLatin1String("phone")) return Idiom::phone;
    if (value == QLatin1String("pad")) return Idiom::pad;
    return Idiom::mac;
}

QString idiomName(Idiom idiom) {
    switch (idiom) {
        case Idiom::phone: return QStringLiteral("phone");
        case Idiom::pad: return QStringLiteral("pad");
        case Idiom::mac: return QStringLiteral("mac");
        case Idiom::unspecified: break;
    }
    return QStringLiteral("unspecified");
}

}  // namespace ui
