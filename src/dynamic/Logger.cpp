#include "dynamic/Logger.h"

#include <QObject>

#include "dynamic/ClassRegistry.h"
#include "platform/log/Log.h"
#include <cstdio>
#include <memory>
#include <unordered_map>

namespace dynamic {

namespace {
int gLevel = 0;

std::unordered_map<const void*, std::unique_ptr<Logger>>& loggers() {
    static std::unordered_map<const void*, std::unique_ptr<Logger>> table;
    return table;
}

void writeLine(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    xlog::Message message;
    message.message = bytes.toStdString();
    message.flag = xlog::FlagDebug;
    message.file = __FILE__;
    message.function = "log";
    message.tag = "dynamic";
    xlog::Log::sharedInstance().log(xlog::asyncLoggingEnabled(), std::move(message));
}

QString boxLine(QChar corner) {
    return QStringLiteral(" ") + corner + QString(44, QChar(0x2574));
}
}  // namespace

Logger& Logger::log(const QStringList& items, bool withBullet) {
    QString prefix;
    for (int i = 0; i < gLevel; ++i) prefix += QStringLiteral(" \u2577  ");
    if (withBullet && !prefix.isEmpty()) {
        prefix.chop(2);
        prefix += QStringLiteral("\u2023 ");
    }
    writeLine(prefix + items.join(QLatin1Char(' ')));
    return *this;
}

Logger& Logger::logGroup(bool end) {
    if (!end) {
        log({boxLine(QChar(0x256D))}, false);
        ++gLevel;
    } else if (gLevel >= 1) {
        --gLevel;
        log({boxLine(QChar(0x2570))}, false);
    }
    return *this;
}

Logger& Logger::loggerFor(const void* identity) {
    auto& slot = loggers()[identity];
    if (!slot) slot = std::make_unique<Logger>();
    return *slot;
}

Logger& Logger::dummy() {
    static DummyLogger* shared = new DummyLogger;
    return *shared;
}

int Logger::level() { return gLevel; }

void Logger::resetForTesting() { gLevel = 0; }

QString Logger::describe(const QVariant& value) {
    if (!value.isValid()) return QStringLiteral("<nil>");
    if (value.metaType().flags() & QMetaType::PointerToQObject) {
        QObject* o = value.value<QObject*>();
        if (!o) return QStringLiteral("<nil>");
        QString text = ClassRegistry::typeName(o);
        if (!o->objectName().isEmpty()) text += QStringLiteral(" \"") + o->objectName() + QLatin1Char('"');
        return QStringLiteral("<%1>").arg(text);
    }
    if (value.canConvert<QString>()) return value.toString();
    return QStringLiteral("<%1>").arg(QString::fromLatin1(value.typeName()));
}

}  // namespace dynamic
