// Symbol images and the device idiom.
#include <gtest/gtest.h>

#include <QFile>
#include <QTextStream>

#include "platform/ui/Idiom.h"
#include "platform/ui/Image.h"

using namespace ui;

namespace {

QStringList tableNames() {
    QStringList names;
    QFile f(QStringLiteral(":/symbols/SymbolNames.txt"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return names;
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) names << line.section(QLatin1Char(' '), 0, 0);
    }
    return names;
}

// Share of the image's pixels that are drawn, and the colour of the most opaque one.
std::pair<double, QColor> ink(const QImage& image) {
    int drawn = 0;
    QColor strongest(Qt::transparent);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 0) ++drawn;
            if (c.alpha() > strongest.alpha()) strongest = c;
        }
    return {static_cast<double>(drawn) / (image.width() * image.height()), strongest};
}

}  // namespace

TEST(Symbols, EveryNameOfTheTableHasADrawableImage) {
    const QStringList names = tableNames();
    ASSERT_GE(names.size(), 29);
    for (const QString& name : names) {
        const Image image = Image::systemImage(name);
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        EXPECT_TRUE(image.isSymbol());
        EXPECT_EQ(image.symbolName(), name);
        EXPECT_GT(ink(image.toImage(QSize(32, 32), QColor(Qt::black))).first, 0.02) << name.toStdString();
    }
    EXPECT_EQ(Image::availableSymbolNames().size(), names.size());
}

TEST(Symbols, UnknownNamesGiveTheEmptyImage) {
    for (const char* name : {"", "no.such.symbol", "Folder", "folder "}) {
        const Image image = Image::systemImage(QString::fromLatin1(name));
        EXPECT_TRUE(image.isNull()) << name;
        EXPECT_TRUE(image.withTintColor(Qt::red).isNull());
        EXPECT_TRUE(image.icon().isNull());
        EXPECT_TRUE(image.pixmap(QSize(16, 16)).isNull());
    }
}

TEST(Symbols, TintedSymbolsAreDrawnInTheirTint) {
    const QColor teal = QColor::fromHsvF(0.48f, 1.0f, 0.73f);
    const Image image = Image::systemImage(QStringLiteral("server.rack")).withTintColor(teal);
    EXPECT_EQ(image.tintColor(), teal);
    EXPECT_EQ(image.renderingMode(), RenderingMode::alwaysOriginal);
    // The tint wins over the colour a button would ask for.
    const QColor drawn = ink(image.toImage(QSize(48, 48), QColor(Qt::black))).second;
    EXPECT_EQ(drawn.rgb(), teal.rgb());
    // The icon form draws the same.
    const QColor fromIcon = ink(image.icon().pixmap(QSize(48, 48)).toImage()).second;
    EXPECT_EQ(fromIcon.rgb(), teal.rgb());
}

TEST(Symbols, BoldIsHeavierThanRegular) {
    const Image regular = Image::systemImage(QStringLiteral("clock"));
    const Image bold = regular.withConfiguration({17, SymbolWeight::bold});
    EXPECT_GT(ink(bold.toImage(QSize(64, 64), QColor(Qt::black))).first,
              ink(regular.toImage(QSize(64, 64), QColor(Qt::black))).first);
}

TEST(Images, SolidColourImagesAreFilledEntirely) {
    const Image image = solidColorImage(QColor(10, 20, 30), 16, 16);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSizeF(16, 16));
    const QImage pixels = image.toImage(QSize(16, 16));
    EXPECT_EQ(pixels.pixelColor(0, 0), QColor(10, 20, 30));
    EXPECT_EQ(pixels.pixelColor(15, 15), QColor(10, 20, 30));
    EXPECT_TRUE(solidColorImage(Qt::red, 0, 10).isNull());
}

TEST(Idiom, DesktopUnlessTheEnvironmentSaysOtherwise) {
    const QByteArray saved = qgetenv("DRAVIX_IDIOM");
    struct Case {
        const char* value;
        Idiom idiom;
    };
    for (const Case& c : {Case{"", Idiom::mac}, Case{"phone", Idiom::phone}, Case{"pad", Idiom::pad},
                          Case{"PAD", Idiom::pad}, Case{"mac", Idiom::mac}, Case{"tv", Idiom::mac}}) {
        qputenv("DRAVIX_IDIOM", c.value);
        EXPECT_EQ(userInterfaceIdiom(), c.idiom) << c.value;
    }
    if (saved.isNull()) qunsetenv("DRAVIX_IDIOM");
    else qputenv("DRAVIX_IDIOM", saved);
}
