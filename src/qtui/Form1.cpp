#include "qtui/Form1.h"

#include "common/HandlerErrors.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace oru {

namespace {

/// Shrinks the label's font until its one-line text fits widthPx. The web
/// address is a single word that can't wrap, and the box keeps its size.
void shrinkToFit(QLabel* label, int widthPx)
{
    constexpr qreal kSmallestPointSize = 6;
    QFont font = label->font();
    qreal pointSize = font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF();
    while (QFontMetrics(font).horizontalAdvance(label->text()) > widthPx && pointSize > kSmallestPointSize) {
        pointSize -= 0.5;
        font.setPointSizeF(pointSize);
    }
    label->setFont(font);
}

} // namespace

TForm1::TForm1(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kAboutCaption));
    // No system menu, minimise, maximise or close box: "Kapat" closes it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(kAboutWidthPx, kAboutHeightPx);

    Label1 = new QLabel(QString::fromUtf8(kAboutProductName), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(QString::fromLatin1(kProductWebAddress), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Button1 = new QPushButton(QString::fromUtf8(kAboutCloseCaption), this);
    Button1->setObjectName(QStringLiteral("Button1"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1, 0, Qt::AlignHCenter);
    layout->addWidget(Label2, 0, Qt::AlignHCenter);
    layout->addStretch();
    layout->addWidget(Button1, 0, Qt::AlignHCenter);

    const QMargins margins = layout->contentsMargins();
    const int textRoomPx = width() - margins.left() - margins.right();
    shrinkToFit(Label1, textRoomPx);
    shrinkToFit(Label2, textRoomPx);

    connect(Button1, &QPushButton::clicked, this, [this] { guarded([this] { Button1Click(); }); });
}

void TForm1::Button1Click()
{
    accept();
}

} // namespace oru
