#pragma once

#include <QFlags>
#include <QIODevice>
#include <QObject>
#include <QString>
#include <functional>

namespace kavelo {

// Extra stored blocks a component writes and reads beside its published
// properties (the converter's wave format records, for one).
class Filer {
public:
    using BinaryReader = std::function<void(QIODevice& stream)>;
    using BinaryWriter = std::function<void(QIODevice& stream)>;

    virtual ~Filer() = default;
    virtual void DefineBinaryProperty(const QString& name, const BinaryReader& reader,
                                      const BinaryWriter& writer, bool hasData) = 0;
};

// Base of every non-visual component: an owner (the QObject parent), state flags,
// and the hooks through which stored design-time values reach it.
class Component : public QObject {
    Q_OBJECT
public:
    enum StateFlag {
        csLoading = 0x1,
        csDesigning = 0x2,
        csDestroying = 0x4,
    };
    Q_DECLARE_FLAGS(ComponentState, StateFlag)

    explicit Component(QObject* owner);
    ~Component() override;

    QObject* Owner() const { return parent(); }
    ComponentState componentState() const { return state_; }

    void setDesigning(bool designing);

    // Stored-data reader: marks the component as loading before its values are set.
    void beginLoading() { state_ |= csLoading; }

    // Run once all stored values of the window have been read; clears csLoading.
    virtual void Loaded();

    // Names the component's extra stored blocks.
    virtual void DefineProperties(Filer& filer);

protected:
    // Called first by a destructor so that handlers running meanwhile can tell.
    void Destroying() { state_ |= csDestroying; }

private:
    ComponentState state_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Component::ComponentState)

} // namespace kavelo
