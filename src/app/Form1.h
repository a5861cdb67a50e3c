#pragma once

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

inline constexpr const char* kProductWebAddress = "https://oru.example.org/akilli-tahta";

} // namespace oru
