// Painting of the 16 x 16 tray image and the repaint rules of its setters, on
// Qt's offscreen platform.
#include "TrayTestSupport.h"

#include "qtui/TextTrayIcon.h"
#include "qtui/TrayIcon1Config.h"

#include <QAction>
#include <QFontMetrics>
#include <QMenu>
#include <QPixmap>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace oru {
namespace {

using test::TextStamp;
using test::trayTestApp;

constexpr int kSize = TTextTrayIcon::kIconSizePx;

QFont smallFont()
{
    return trayIcon1Font().qFont();
}

/// A tray icon with text in the program's tray font and colour `fontColor`.
void setUp(TTextTrayIcon& icon, const QString& text, TColor color, TColor fontColor)
{
    icon.setFont(TTrayFont(smallFont(), fontColor));
    icon.setText(text);
    icon.setColor(color);
}

int countPixels(const QImage& image, QRgb rgb)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) | 0xFF000000u) == (rgb | 0xFF000000u) ? 1 : 0;
    return n;
}

// --- colour rules -----------------------------------------------------------

struct FillRow {
    const char* name;
    TColor color;
    TColor fontColor;
    QColor expectedFill; // written out independently of the TColor byte order
    QColor expectedText;
    bool fillTransparent;
    friend void PrintTo(const FillRow& row, std::ostream* os) { *os << row.name; }
};

class FillColourRule : public ::testing::TestWithParam<FillRow> {
protected:
    void SetUp() override { trayTestApp(); }
};

TEST_P(FillColourRule, FillsTheSquareAndDrawsTheTextInTheFontColour)
{
    const FillRow& row = GetParam();
    TTextTrayIcon icon;
    setUp(icon, QStringLiteral("oru"), row.color, row.fontColor);

    const QImage& bitmap = icon.TextBitmap();
    ASSERT_EQ(bitmap.size(), QSize(kSize, kSize));
    const int fillPixels = countPixels(bitmap, row.expectedFill.rgb());
    const int textPixels = countPixels(bitmap, row.expectedText.rgb());
    EXPECT_EQ(fillPixels + textPixels, kSize * kSize) << "only fill and text colours";
    EXPECT_GE(textPixels, 15) << "the text is drawn";
    EXPECT_GE(fillPixels, kSize * kSize / 2);
    EXPECT_EQ(QColor(bitmap.pixel(0, 0)), row.expectedFill);
    EXPECT_EQ(QColor(bitmap.pixel(kSize - 1, kSize - 1)), row.expectedFill);

    const QImage& shown = icon.IconImage();
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const bool isFill = (bitmap.pixel(x, y) | 0xFF000000u) == row.expectedFill.rgb();
            const int alpha = qAlpha(shown.pixel(x, y));
            if (isFill && row.fillTransparent) {
                EXPECT_EQ(alpha, 0) << "(" << x << "," << y << ")";
            } else {
                EXPECT_EQ(alpha, 255) << "(" << x << "," << y << ")";
                EXPECT_EQ(shown.pixel(x, y), bitmap.pixel(x, y) | 0xFF000000u);
            }
        }
    }
    // What the notification area gets is exactly this image.
    EXPECT_EQ(icon.Icon().pixmap(QSize(kSize, kSize)).toImage().convertToFormat(QImage::Format_ARGB32),
              shown);
}

INSTANTIATE_TEST_SUITE_P(
    TextTrayIcon, FillColourRule,
    ::testing::Values(
        FillRow{"RedNoPen", clRed, clWhite, QColor(255, 0, 0), QColor(255, 255, 255), false},
        FillRow{"GreenFound", clGreen, clWhite, QColor(0, 128, 0), QColor(255, 255, 255), false},
        FillRow{"BlueUncalibrated", clBlue, clWhite, QColor(0, 0, 255), QColor(255, 255, 255), false},
        FillRow{"MixedBytes", 0x336699, clBlack, QColor(0x99, 0x66, 0x33), QColor(0, 0, 0), false},
        // The square equal to the font colour would hide the text: inverted, still opaque.
        FillRow{"WhiteOnWhiteInverts", clWhite, clWhite, QColor(0, 0, 0), QColor(255, 255, 255), false},
        FillRow{"SameColourInverts", 0x123456, 0x123456, QColor(0xA9, 0xCB, 0xED), QColor(0x56, 0x34, 0x12),
                false},
        // No colour: inverted fill made transparent, only the text is left.
        FillRow{"NoneWhiteText", clNone, clWhite, QColor(0, 0, 0), QColor(255, 255, 255), true},
        FillRow{"NoneGreenText", clNone, 0x00FF00, QColor(255, 0, 255), QColor(0, 255, 0), true}),
    [](const ::testing::TestParamInfo<FillRow>& info) { return std::string(info.param.name); });

TEST(TextTrayIcon, TakesPaletteColoursFromTheDesktopPalette)
{
    trayTestApp();
    const QPalette palette = QGuiApplication::palette();
    ASSERT_NE(palette.color(QPalette::Button), palette.color(QPalette::Text));
    TTextTrayIcon icon;
    setUp(icon, QStringLiteral("oru"), clBtnFace, clWindowText);
    EXPECT_EQ(QColor(icon.TextBitmap().pixel(0, 0)), palette.color(QPalette::Button));
    EXPECT_GT(countPixels(icon.TextBitmap(), palette.color(QPalette::Text).rgb()), 15);

    // Equal palette colours still count as equal: the resolved font colour, inverted.
    icon.setColor(clWindowText);
    const QRgb text = palette.color(QPalette::Text).rgb();
    EXPECT_EQ(QColor(icon.TextBitmap().pixel(0, 0)), QColor(255 - qRed(text), 255 - qGreen(text), 255 - qBlue(text)));
}

TEST(TextTrayIcon, FramesTheSquareInBorderColourAndLeavesTheInsideAlone)
{
    trayTestApp();
    TTextTrayIcon icon;
    setUp(icon, QStringLiteral("oru"), clRed, clWhite);
    const QImage plain = icon.TextBitmap();

    icon.setBorderColor(clBlue);
    icon.setBorder(true);
    const QImage framed = icon.TextBitmap();

    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const bool edge = x == 0 || y == 0 || x == kSize - 1 || y == kSize - 1;
            if (edge)
                EXPECT_EQ(QColor(framed.pixel(x, y)), QColor(0, 0, 255)) << "(" << x << "," << y << ")";
            else
                EXPECT_EQ(framed.pixel(x, y), plain.pixel(x, y)) << "(" << x << "," << y << ")";
        }
    }
}

// --- text placement ---------------------------------------------------------

/// Checks every pixel of the bitmap against lines drawn in order, each with its
/// cell's top-left at the given point. Text goes onto an opaque background, so
/// a later line's cell hides what an earlier line drew there.
void expectTextAt(const QImage& bitmap, const std::vector<std::pair<QString, QPoint>>& lines)
{
    const QFontMetrics metrics(smallFont());
    std::vector<TextStamp> stamps;
    std::vector<QRect> cells;
    for (const auto& [text, topLeft] : lines) {
        stamps.emplace_back(smallFont(), text);
        cells.emplace_back(topLeft, QSize(metrics.horizontalAdvance(text), metrics.height()));
    }
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            bool ink = false;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (cells[i].contains(x, y))
                    ink = stamps[i].covers(cells[i].x(), cells[i].y(), x, y);
            }
            const QColor expected = ink ? QColor(255, 255, 255) : QColor(255, 0, 0);
            EXPECT_EQ(QColor(bitmap.pixel(x, y)), expected) << "pixel (" << x << "," << y << ")";
        }
    }
}

class TextPlacement : public ::testing::Test {
protected:
    void SetUp() override { setUp(icon, QString(), clRed, clWhite); }
    int width(const QString& s) const { return metrics.horizontalAdvance(s); }
    int height() const { return metrics.height(); }

    QApplication& app = trayTestApp(); // before any widget member
    TTextTrayIcon icon;
    QFontMetrics metrics{smallFont()};
};

TEST_F(TextPlacement, CentresOneLineOverFifteenPixelsWithOffsets)
{
    struct Row {
        QString text;
        int offsetX;
        int offsetY;
    };
    for (const Row& row : {Row{"oru", 0, 0}, Row{"o", 0, 0}, Row{"ru", 0, 0}, Row{"oru", 2, -1},
                           Row{"o", -3, 4}}) {
        SCOPED_TRACE(row.text.toStdString() + " offset " + std::to_string(row.offsetX) + ","
                     + std::to_string(row.offsetY));
        icon.Options().setOffsetX(row.offsetX);
        icon.Options().setOffsetY(row.offsetY);
        icon.setText(row.text);
        // Widths below 15 leave a non-negative gap: plain halving.
        ASSERT_LE(width(row.text), 15);
        const QPoint cell((15 - width(row.text)) / 2 + row.offsetX, (15 - height()) / 2 + row.offsetY);
        expectTextAt(icon.TextBitmap(), {{row.text, cell}});
    }
}

TEST_F(TextPlacement, StartsATooWideTextLeftOfTheSquareByTruncatedHalf)
{
    // Find a text whose overhang 15 - w is negative and odd: truncation toward
    // zero and flooring then differ by one pixel.
    QString text;
    for (const QString candidate : {"orur", "oruo", "oruu", "oruoru", "oruorur", "ooooo", "uuuuu", "oru oru"}) {
        const int overhang = width(candidate) - 15;
        if (overhang > 0 && overhang % 2 == 1) {
            text = candidate;
            break;
        }
    }
    ASSERT_FALSE(text.isEmpty()) << "no candidate text with an odd overhang in this font";
    const int overhang = width(text) - 15;
    icon.setText(text);

    const QPoint cell(-(overhang / 2), (15 - height()) / 2);
    expectTextAt(icon.TextBitmap(), {{text, cell}});
}

TEST_F(TextPlacement, StacksCarriageReturnLinesAroundTheMiddleEachCentredOnItsOwnWidth)
{
    struct Row {
        QString text;
        std::vector<QString> lines;
        int lineDistance;
        int offsetX;
        int offsetY;
    };
    const QString cr(QChar(13));
    const QString lf(QChar(10));
    for (const Row& row : {
             Row{"o" + cr + "ru", {"o", "ru"}, 0, 0, 0},
             Row{"o" + cr + "ru", {"o", "ru"}, 1, 1, -1},
             // Overlapping lines: each later cell covers the one above.
             Row{"o" + cr + "ru" + cr + "o", {"o", "ru", "o"}, -4, 0, 0},
             // The line feed of CR LF stays at the start of the second line.
             Row{"o" + cr + lf + "ru", {"o", lf + "ru"}, 0, 0, 0},
             // A trailing carriage return makes an empty last line.
             Row{"oru" + cr, {"oru", ""}, 0, 0, 0},
         }) {
        SCOPED_TRACE(row.lines.size());
        icon.Options().setLineDistance(row.lineDistance);
        icon.Options().setOffsetX(row.offsetX);
        icon.Options().setOffsetY(row.offsetY);
        icon.setText(row.text);

        const int lineHeight = height() + row.lineDistance;
        const int top = (15 - static_cast<int>(row.lines.size()) * lineHeight) / 2 + row.offsetY;
        std::vector<std::pair<QString, QPoint>> expected;
        for (std::size_t i = 0; i < row.lines.size(); ++i) {
            const QString& line = row.lines[i];
            expected.push_back({line, QPoint((15 - width(line)) / 2 + row.offsetX,
                                             top + static_cast<int>(i) * lineHeight)});
        }
        expectTextAt(icon.TextBitmap(), expected);
    }
}

TEST_F(TextPlacement, TwoLinesTallerThanTheSquareStartAboveItByTruncatedHalf)
{
    // Two 10-pixel lines need 20 rows: (15 - 20) / 2 truncates to -2, not -3.
    ASSERT_EQ(height(), 10) << "font metrics differ from the ones this case was written for";
    icon.setText(QStringLiteral("o\rru"));
    expectTextAt(icon.TextBitmap(), {{"o", QPoint((15 - width("o")) / 2, -2)},
                                     {"ru", QPoint((15 - width("ru")) / 2, 8)}});
}

// --- repaint rules of the setters -------------------------------------------

struct SetterRow {
    const char* name;
    std::function<void(TTextTrayIcon&)> change;
    int expectedRepaints;
    friend void PrintTo(const SetterRow& row, std::ostream* os) { *os << row.name; }
};

class SetterRepaint : public ::testing::TestWithParam<SetterRow> {
protected:
    void SetUp() override { trayTestApp(); }
};

TEST_P(SetterRepaint, RepaintsAsManyTimesAsTheRuleSays)
{
    TTextTrayIcon icon;
    setUp(icon, QStringLiteral("oru"), clRed, clWhite);
    const int before = icon.RebuildCount();
    const int updatesBefore = icon.IconUpdateCount();

    GetParam().change(icon);

    EXPECT_EQ(icon.RebuildCount() - before, GetParam().expectedRepaints);
    EXPECT_EQ(icon.IconUpdateCount() - updatesBefore, GetParam().expectedRepaints)
        << "every repaint hands its image to the notification area";
}

INSTANTIATE_TEST_SUITE_P(
    TextTrayIcon, SetterRepaint,
    ::testing::Values(
        SetterRow{"ColorSameValue", [](TTextTrayIcon& i) { i.setColor(clRed); }, 1},
        SetterRow{"ColorNewValue", [](TTextTrayIcon& i) { i.setColor(clGreen); }, 1},
        SetterRow{"FontColorSameValue", [](TTextTrayIcon& i) { i.Font().setColor(clWhite); }, 0},
        SetterRow{"FontColorNewValue", [](TTextTrayIcon& i) { i.Font().setColor(clBlack); }, 1},
        SetterRow{"FontFaceSameValue", [](TTextTrayIcon& i) { i.Font().setQFont(smallFont()); }, 0},
        SetterRow{"FontFaceNewSize",
                  [](TTextTrayIcon& i) {
                      QFont f = smallFont();
                      f.setPixelSize(11);
                      i.Font().setQFont(f);
                  },
                  1},
        SetterRow{"FontCopied", [](TTextTrayIcon& i) { i.setFont(TTrayFont(smallFont(), clWhite)); }, 1},
        SetterRow{"TextSameValue", [](TTextTrayIcon& i) { i.setText(QStringLiteral("oru")); }, 1},
        SetterRow{"Border", [](TTextTrayIcon& i) { i.setBorder(true); }, 1},
        SetterRow{"BorderColor", [](TTextTrayIcon& i) { i.setBorderColor(clBlue); }, 1},
        SetterRow{"BackgroundIcon", [](TTextTrayIcon& i) { i.setBackgroundIcon(QIcon()); }, 1},
        SetterRow{"OffsetXSameValue", [](TTextTrayIcon& i) { i.Options().setOffsetX(0); }, 0},
        SetterRow{"OffsetXNewValue", [](TTextTrayIcon& i) { i.Options().setOffsetX(1); }, 1},
        SetterRow{"OffsetYNewValue", [](TTextTrayIcon& i) { i.Options().setOffsetY(-1); }, 1},
        SetterRow{"LineDistanceSameValue", [](TTextTrayIcon& i) { i.Options().setLineDistance(0); }, 0},
        SetterRow{"LineDistanceNewValue", [](TTextTrayIcon& i) { i.Options().setLineDistance(2); }, 1},
        // The status colour change the driver makes: square, then font colour.
        SetterRow{"StatusChangeToGreen",
                  [](TTextTrayIcon& i) {
                      i.setColor(clGreen);
                      i.Font().setColor(clWhite);
                  },
                  1}),
    [](const ::testing::TestParamInfo<SetterRow>& info) { return std::string(info.param.name); });

// --- background image ---------------------------------------------------------

TEST(TextTrayIcon, LaysTheTextOverTheBackgroundImageAndDropsTheSquare)
{
    trayTestApp();
    QImage background(kSize, kSize, QImage::Format_ARGB32);
    background.fill(Qt::transparent);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            background.setPixel(x, y, qRgb(0, 200, 0));

    TTextTrayIcon icon;
    setUp(icon, QStringLiteral("oru"), clRed, clWhite);
    const QImage text = icon.TextBitmap();
    icon.setBackgroundIcon(QIcon(QPixmap::fromImage(background)));

    const QImage& shown = icon.IconImage();
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            if (QColor(text.pixel(x, y)) == QColor(255, 255, 255))
                EXPECT_EQ(shown.pixel(x, y), qRgba(255, 255, 255, 255));
            else if (x < 8 && y < 8)
                EXPECT_EQ(shown.pixel(x, y), qRgba(0, 200, 0, 255));
            else
                EXPECT_EQ(qAlpha(shown.pixel(x, y)), 0);
        }
    }
}

// --- the program's configuration --------------------------------------------

TEST(TrayIcon1Config, BuildsTheMenuInOrderWithComponentNames)
{
    trayTestApp();
    QWidget owner;
    const PopupMenu1Items items = createPopupMenu1(&owner);

    ASSERT_NE(items.PopupMenu1, nullptr);
    EXPECT_EQ(items.PopupMenu1->parent(), &owner);
    EXPECT_EQ(items.PopupMenu1->objectName(), "PopupMenu1");
    const QList<QAction*> actions = items.PopupMenu1->actions();
    ASSERT_EQ(actions.size(), 5);
    EXPECT_EQ(actions[0], items.Kalibre1);
    ASSERT_NE(items.TahtaEkrani1, nullptr);
    EXPECT_EQ(actions[1], items.TahtaEkrani1->menuAction());
    EXPECT_EQ(items.TahtaEkrani1->objectName(), "TahtaEkrani1");
    EXPECT_EQ(actions[2], items.Hakknda1);
    EXPECT_EQ(actions[3], items.N1);
    EXPECT_EQ(actions[4], items.k1);
    const char* names[] = {"Kalibre1", "TahtaEkrani1Item", "Hakknda1", "N1", "k1"};
    const QString captions[] = {QStringLiteral("Kalibre"), QStringLiteral("Tahta ekranı"), QStringLiteral("Hakkında"),
                                QString(), QStringLiteral("Çıkış")};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(actions[i]->objectName(), names[i]);
        EXPECT_EQ(actions[i]->text(), captions[i]);
        EXPECT_EQ(actions[i]->isSeparator(), i == 3);
    }
    EXPECT_EQ(items.PopupMenu1->defaultAction(), nullptr);
}

TEST(TrayIcon1Config, ShowsWhiteOruUnclippedOnARedSquare)
{
    trayTestApp();
    QWidget owner;
    const PopupMenu1Items items = createPopupMenu1(&owner);
    TTextTrayIcon trayIcon(&owner);
    configureTrayIcon1(trayIcon, items.PopupMenu1);

    EXPECT_EQ(trayIcon.objectName(), "TrayIcon1");
    EXPECT_EQ(trayIcon.Text(), "oru");
    EXPECT_EQ(trayIcon.Color(), clRed);
    EXPECT_EQ(trayIcon.Font().Color(), clWhite);
    EXPECT_FALSE(trayIcon.Border());
    EXPECT_EQ(trayIcon.PopupMenu(), items.PopupMenu1);
    EXPECT_TRUE(trayIcon.IconVisible());

    // The font must fit "oru" into the square: 9-pixel characters, nothing clipped.
    const QFontMetrics metrics(trayIcon.Font().qFont());
    EXPECT_EQ(trayIcon.Font().qFont().pixelSize(), 9);
    EXPECT_LE(metrics.horizontalAdvance("oru"), 15);
    EXPECT_LE(metrics.height(), 15);
    const QImage& shown = trayIcon.IconImage();
    int white = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const QRgb p = shown.pixel(x, y);
            ASSERT_TRUE(p == qRgba(255, 0, 0, 255) || p == qRgba(255, 255, 255, 255))
                << "(" << x << "," << y << ")";
            white += p == qRgba(255, 255, 255, 255) ? 1 : 0;
        }
    }
    EXPECT_GE(white, 20) << "three letters";
    // The letters sit inside, with a red margin all round.
    for (int i = 0; i < kSize; ++i) {
        EXPECT_EQ(shown.pixel(i, 0), qRgba(255, 0, 0, 255));
        EXPECT_EQ(shown.pixel(i, kSize - 1), qRgba(255, 0, 0, 255));
    }
}

TEST(TrayIcon, SaysOnceOnStderrThatItWaitsForATray)
{
    trayTestApp(); // the offscreen platform has no tray
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    TTextTrayIcon trayIcon;
    trayIcon.setText(QStringLiteral("oru"));

    ::testing::internal::CaptureStderr();
    trayIcon.setIconVisible(true);
    trayIcon.setIconVisible(false);
    trayIcon.setIconVisible(true);
    const std::string err = ::testing::internal::GetCapturedStderr();

    const std::string message = "no system tray (notification area) is running";
    const auto first = err.find(message);
    ASSERT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find(message, first + 1), std::string::npos) << "said more than once: " << err;
    EXPECT_TRUE(trayIcon.IconVisible());
}

TEST(TextTrayIcon, RepaintingTheSameImageReusesItsIcon)
{
    // A device change repaints red or green every time; the icons must not
    // pile up for as long as the driver runs.
    trayTestApp();
    TTextTrayIcon icon;
    setUp(icon, QStringLiteral("oru"), clRed, clWhite);
    const qint64 redKey = icon.Icon().cacheKey();
    icon.setColor(clGreen);
    const qint64 greenKey = icon.Icon().cacheKey();
    EXPECT_NE(greenKey, redKey);
    for (int i = 0; i < 50; ++i) {
        icon.setColor(clRed);
        EXPECT_EQ(icon.Icon().cacheKey(), redKey);
        icon.setColor(clGreen);
        EXPECT_EQ(icon.Icon().cacheKey(), greenKey);
    }
}

} // namespace
} // namespace oru
