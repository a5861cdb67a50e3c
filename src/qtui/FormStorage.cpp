#include "qtui/FormStorage.h"

#include "settings/CustomAppStorage.h"
#include "settings/FormTextStorage.h"

#include <QMetaObject>

#include <optional>

namespace oru {

namespace {

struct LineParts {
    QString component;
    QString property;
};

std::optional<LineParts> splitLine(const QString& line)
{
    const qsizetype dot = line.indexOf(u'.');
    if (dot < 0) return std::nullopt;
    LineParts parts{line.left(dot).trimmed(), line.mid(dot + 1).trimmed()};
    if (parts.component.isEmpty() || parts.property.isEmpty()) return std::nullopt;
    return parts;
}

std::optional<QMetaProperty> findProperty(const QObject& component, const QString& name)
{
    const QMetaObject* meta = component.metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        if (name.compare(QLatin1String(property.name()), Qt::CaseInsensitive) == 0) return property;
    }
    return std::nullopt;
}

bool isText(const QMetaProperty& property)
{
    return property.metaType().id() == QMetaType::QString;
}

} // namespace

TFormStorage::TFormStorage(QWidget* owner, TCustomAppStorage* storage, ErrorReport reportError)
    : TFormPlacement(owner, storage, std::move(reportError))
{
}

QStringList TFormStorage::StoredProps() const
{
    QStringList lines;
    for (const Line& line : lines_) {
        if (line.bound && !line.component) continue;
        lines.append(line.text);
    }
    return lines;
}

void TFormStorage::setStoredProps(const QStringList& lines)
{
    lines_.clear();
    for (const QString& text : lines) lines_.push_back(Line{text, nullptr, false});
}

void TFormStorage::loaded()
{
    BindPropertyList(true);
}

std::string TFormStorage::storedPropertyName(const QMetaProperty& property)
{
    // Qt properties are declared in camelCase, the stored names are PascalCase.
    std::string name = property.name();
    if (!name.empty() && name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
    return name;
}

QObject* TFormStorage::findComponent(const QString& name) const
{
    if (!owner()) return nullptr;
    for (QObject* child : owner()->findChildren<QObject*>()) {
        if (child->objectName().compare(name, Qt::CaseInsensitive) == 0) return child;
    }
    return nullptr;
}

void TFormStorage::BindPropertyList(bool fromWindow)
{
    for (std::size_t i = lines_.size(); i-- > 0;) {
        Line& line = lines_[i];
        const auto parts = splitLine(line.text);
        bool keep = parts.has_value();
        if (keep && fromWindow) {
            line.component = findComponent(parts->component);
            line.bound = true;
            keep = line.component != nullptr;
        } else if (keep) {
            keep = line.bound && line.component;
            if (keep) line.text = line.component->objectName() + u'.' + parts->property;
        }
        if (!keep) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

std::string TFormStorage::propertyBasePath() const
{
    return JoinPath({AppStoragePath(), StoredPropsPath});
}

template <class Visit>
void TFormStorage::forEachStoredText(Visit visit)
{
    const std::string base = propertyBasePath();
    BindPropertyList(false);
    for (const Line& line : lines_) {
        QObject* component = line.component;
        const auto parts = splitLine(line.text);
        if (!component || !parts) continue;
        const auto property = findProperty(*component, parts->property);
        if (!property || !isText(*property)) continue;
        visit(*component, *property,
              JoinPath({base, component->objectName().toStdString() + "_" + storedPropertyName(*property)}));
    }
}

void TFormStorage::LoadPropertyList()
{
    TCustomAppStorage* storage = AppStorage();
    if (!storage) return;
    // A stored property that can't be restored keeps its value; nothing is reported.
    try {
        forEachStoredText([storage](QObject& component, const QMetaProperty& property, const std::string& path) {
            try {
                const std::string current = property.read(&component).toString().toStdString();
                if (const auto text = restoredText(*storage, path, current)) {
                    property.write(&component, QString::fromStdString(*text));
                }
            } catch (const std::exception&) {
            }
        });
    } catch (const std::exception&) {
    }
}

void TFormStorage::StorePropertyList()
{
    TCustomAppStorage* storage = AppStorage();
    if (!storage) return;
    forEachStoredText([storage](QObject& component, const QMetaProperty& property, const std::string& path) {
        storage->WriteText(path, property.read(&component).toString().toStdString());
    });
}

void TFormStorage::SavePlacement()
{
    TFormPlacement::SavePlacement();
    StorePropertyList();
}

void TFormStorage::RestorePlacement()
{
    TFormPlacement::RestorePlacement();
    LoadPropertyList();
}

} // namespace oru
