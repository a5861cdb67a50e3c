#pragma once

#include "qtui/FormPlacement.h"

#include <QMetaProperty>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace oru {

/// The form placement plus a list of the window's component properties, kept
/// in the storage beside the placement. Each line of StoredProps reads
/// "Component.Property"; the component is one of the owner's children found by
/// object name, the property a Qt property found by name; both ignore letter
/// case. The stored value is named after the component's object name at the
/// time of the save or restore, "_", and the property's declared name with its
/// first letter in upper case ("Edit1.text" gives Edit1_Text). Only QString
/// properties are kept, as texts.
class TFormStorage final : public TFormPlacement {
public:
    TFormStorage(QWidget* owner, TCustomAppStorage* storage, ErrorReport reportError = {});

    /// The lines as they stand; lines dropped at binding, or whose component
    /// has been destroyed, are gone.
    QStringList StoredProps() const;
    /// Lines are bound to components by loaded() or the next BindPropertyList(true).
    void setStoredProps(const QStringList& lines);

    /// Below AppStoragePath; empty here.
    std::string StoredPropsPath;

    /// Binds the list to the owner's components.
    void loaded() override;

    /// fromWindow: look each line's component up among the owner's children,
    /// dropping lines without "." or whose component isn't there. Otherwise (for
    /// a save or restore) rewrite each bound line with the component's current
    /// name and drop lines without a live component.
    void BindPropertyList(bool fromWindow);
    /// Restores the stored properties; every error is ignored.
    void LoadPropertyList();
    /// Saves the properties; raises the storage's errors.
    void StorePropertyList();

    /// The stored value name for a property: "text" is stored as "Text".
    static std::string storedPropertyName(const QMetaProperty& property);

protected:
    void SavePlacement() override;
    void RestorePlacement() override;

private:
    struct Line {
        QString text;
        QPointer<QObject> component;
        bool bound = false;
    };

    QObject* findComponent(const QString& name) const;
    std::string propertyBasePath() const;
    /// Calls visit(component, property, value path) for every bound line
    /// naming a text property, in list order.
    template <class Visit>
    void forEachStoredText(Visit visit);

    std::vector<Line> lines_;
};

} // namespace oru
