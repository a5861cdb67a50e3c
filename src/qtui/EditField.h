#pragma once

#include <QObject>
#include <QString>

namespace oru {

/// A hidden single-line text field of the main window. It carries one stored
/// calibration number as decimal text; the settings storage finds it by its
/// object name ("Edit1".."Edit8") and its "Text" property.
class TEdit : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Text READ text WRITE setText)

public:
    TEdit(const QString& name, QObject* owner) : QObject(owner), text_(QStringLiteral("0"))
    {
        setObjectName(name);
    }

    QString text() const { return text_; }
    void setText(const QString& text) { text_ = text; }

private:
    QString text_;
};

} // namespace oru
