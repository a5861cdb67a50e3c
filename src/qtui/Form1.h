#pragma once

#include "app/AboutTexts.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace oru {

/// The about box: the product's name and address, closed by "Kapat".
class TForm1 : public QDialog {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* Label2;
    QPushButton* Button1;

    void Button1Click();
};

} // namespace oru
