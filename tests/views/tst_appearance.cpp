#include "AmbientBackground.h"
#include "support/GlassFrame.h"

#include <QPainter>
#include <QTest>

namespace {

QPalette darkPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(36, 36, 38));
    palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    palette.setColor(QPalette::Base, QColor(28, 28, 30));
    palette.setColor(QPalette::Text, QColor(235, 235, 240));
    return palette;
}

bool near(const QColor &actual, const QColor &expected, int tolerance = 8)
{
    return qAbs(actual.red() - expected.red()) <= tolerance &&
           qAbs(actual.green() - expected.green()) <= tolerance &&
           qAbs(actual.blue() - expected.blue()) <= tolerance;
}

/// \a color under the background's white wash at 0.08.
QColor washed(const QColor &color)
{
    auto mix = [](int channel) { return qRound(channel * 0.92 + 255 * 0.08); };
    return QColor(mix(color.red()), mix(color.green()), mix(color.blue()));
}

} // namespace

class AppearanceTest : public QObject
{
    Q_OBJECT

private slots:
    void backgroundEndsFollowTheAppearance_data();
    void backgroundEndsFollowTheAppearance();
    void glassLooksTheSameWhateverTintAndInteraction();
};

void AppearanceTest::backgroundEndsFollowTheAppearance_data()
{
    QTest::addColumn<QPalette>("palette");
    QTest::newRow("light") << QPalette();
    QTest::newRow("dark") << darkPalette();
}

void AppearanceTest::backgroundEndsFollowTheAppearance()
{
    QFETCH(QPalette, palette);
    AmbientBackground background;
    background.setPalette(palette);
    background.resize(301, 301);
    const QImage image = background.grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    auto at = [&](int x, int y) { return image.pixelColor(int(x * ratio), int(y * ratio)); };
    QVERIFY(near(at(0, 0), washed(palette.color(QPalette::Window))));
    QVERIFY(near(at(300, 300), washed(palette.color(QPalette::Base))));
    // The two middle stops are the same pale tones in both appearances.
    QVERIFY(near(at(100, 100), washed(QColor::fromRgbF(0.88f, 0.93f, 0.98f))));
    QVERIFY(near(at(200, 200), washed(QColor::fromRgbF(0.93f, 0.91f, 0.97f))));
}

void AppearanceTest::glassLooksTheSameWhateverTintAndInteraction()
{
    GlassFrame plain(12, std::nullopt, GlassInteraction::passive);
    GlassFrame tinted(12, QColor(Qt::red), GlassInteraction::interactive);
    for (GlassFrame *frame : {&plain, &tinted}) {
        frame->resize(120, 34);
        frame->setAutoFillBackground(false);
    }
    const QImage plainImage = plain.grab().toImage();
    QCOMPARE(tinted.grab().toImage(), plainImage);
    // The thin border is white at 0.18 along the inside of the shape.
    const QColor border = plainImage.pixelColor(60, 0);
    const QColor inside = plainImage.pixelColor(60, 17);
    QVERIFY(border != inside);
}

QTEST_MAIN(AppearanceTest)
#include "tst_appearance.moc"
