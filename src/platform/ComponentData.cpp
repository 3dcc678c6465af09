#include "platform/ComponentData.h"

#include "platform/Exception.h"

#include <QBuffer>
#include <QFile>
#include <QMetaProperty>
#include <QVariant>
#include <map>
#include <optional>

namespace kavelo {
namespace {

QString shortClassName(const QObject* object)
{
    const QString full = QString::fromLatin1(object->metaObject()->className());
    const qsizetype colon = full.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? full : full.mid(colon + 1);
}

QByteArray quoted(const QString& text)
{
    QByteArray out = "'";
    for (const QChar ch : text) {
        if (ch == QLatin1Char('\''))
            out += "''";
        else if (ch.unicode() < 0x20)
            out += "'#" + QByteArray::number(ch.unicode()) + "'";
        else
            out += QString(ch).toUtf8();
    }
    return out + "'";
}

class WriterFiler : public Filer {
public:
    explicit WriterFiler(QByteArray& out) : out_(out) {}

    void DefineBinaryProperty(const QString& name, const BinaryReader&,
                              const BinaryWriter& writer, bool hasData) override
    {
        if (!hasData || !writer)
            return;
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        writer(buffer);
        const QByteArray hex = buffer.data().toHex().toUpper();
        out_ += "  " + name.toUtf8() + " = {\n";
        for (qsizetype i = 0; i < hex.size(); i += 64)
            out_ += "    " + hex.mid(i, 64) + "\n";
        out_ += "  }\n";
    }

private:
    QByteArray& out_;
};

class ReaderFiler : public Filer {
public:
    std::map<QString, QByteArray> blocks;

    void DefineBinaryProperty(const QString& name, const BinaryReader& reader,
                              const BinaryWriter&, bool) override
    {
        const auto it = blocks.find(name);
        if (it == blocks.end() || !reader)
            return;
        QBuffer buffer(&it->second);
        buffer.open(QIODevice::ReadOnly);
        reader(buffer);
        blocks.erase(it);
    }
};

struct Value {
    enum Kind { Integer, String, Boolean, Binary } kind;
    qlonglong integer = 0;
    QString string;
    bool boolean = false;
    QByteArray binary;
};

class Parser {
public:
    explicit Parser(QByteArrayView data) : lines_(data.toByteArray().split('\n')) {}

    void parse(QObject* owner, QList<Component*>& loaded)
    {
        while (auto line = nextLine()) {
            if (!line->startsWith("object "))
                fail(QStringLiteral("'object' expected"));
            parseObject(owner, line->mid(7).trimmed(), loaded);
        }
    }

private:
    [[noreturn]] void fail(const QString& what) const
    {
        throw Exception(QStringLiteral("Error reading stored component data, line %1: %2")
                            .arg(lineNumber_).arg(what));
    }

    std::optional<QByteArray> nextLine()
    {
        while (index_ < lines_.size()) {
            const QByteArray line = lines_[index_++].trimmed();
            lineNumber_ = index_;
            if (!line.isEmpty())
                return line;
        }
        return std::nullopt;
    }

    void parseObject(QObject* owner, const QByteArray& header, QList<Component*>& loaded)
    {
        const qsizetype colon = header.indexOf(':');
        if (colon <= 0)
            fail(QStringLiteral("'name: class' expected"));
        const QString name = QString::fromUtf8(header.left(colon).trimmed());
        const QString className = QString::fromUtf8(header.mid(colon + 1).trimmed());
        auto* component = owner->findChild<Component*>(name, Qt::FindDirectChildrenOnly);
        if (component == nullptr)
            fail(QStringLiteral("component %1 does not exist").arg(name));
        if (shortClassName(component) != className)
            fail(QStringLiteral("%1 is a %2, not a %3").arg(name, shortClassName(component), className));
        component->beginLoading();
        if (!loaded.contains(component))
            loaded.append(component);

        ReaderFiler filer;
        while (true) {
            const auto line = nextLine();
            if (!line)
                fail(QStringLiteral("'end' expected"));
            if (*line == "end")
                break;
            const qsizetype eq = line->indexOf('=');
            if (eq <= 0)
                fail(QStringLiteral("'property = value' expected"));
            const QString property = QString::fromUtf8(line->left(eq).trimmed());
            const Value value = parseValue(line->mid(eq + 1).trimmed());
            if (value.kind == Value::Binary)
                filer.blocks[property] = value.binary;
            else
                setProperty(component, name, property, value);
        }
        if (!filer.blocks.empty()) {
            component->DefineProperties(filer);
            if (!filer.blocks.empty())
                fail(QStringLiteral("property %1.%2 does not exist").arg(name, filer.blocks.begin()->first));
        }
    }

    Value parseValue(const QByteArray& text)
    {
        if (text == "True" || text == "False")
            return Value{Value::Boolean, 0, {}, text == "True", {}};
        if (text.startsWith('\''))
            return Value{Value::String, 0, parseString(text), false, {}};
        if (text.startsWith('{'))
            return Value{Value::Binary, 0, {}, false, parseBinary(text.mid(1))};
        bool ok = false;
        const qlonglong number = text.toLongLong(&ok);
        if (!ok)
            fail(QStringLiteral("invalid value"));
        return Value{Value::Integer, number, {}, false, {}};
    }

    QString parseString(const QByteArray& text)
    {
        QByteArray bytes;
        qsizetype i = 0;
        while (i < text.size()) {
            if (text[i] == '\'') {
                const qsizetype end = findClosingQuote(text, i + 1, bytes);
                i = end + 1;
            } else if (text[i] == '#') {
                qsizetype j = i + 1;
                while (j < text.size() && text[j] >= '0' && text[j] <= '9')
                    ++j;
                bool ok = false;
                const uint code = text.mid(i + 1, j - i - 1).toUInt(&ok);
                if (!ok || code > 0xFFFF)
                    fail(QStringLiteral("invalid character code"));
                bytes += QString(QChar(static_cast<char16_t>(code))).toUtf8();
                i = j;
            } else {
                fail(QStringLiteral("invalid string"));
            }
        }
        return QString::fromUtf8(bytes);
    }

    qsizetype findClosingQuote(const QByteArray& text, qsizetype from, QByteArray& bytes)
    {
        for (qsizetype i = from; i < text.size(); ++i) {
            if (text[i] != '\'') {
                bytes += text[i];
                continue;
            }
            if (i + 1 < text.size() && text[i + 1] == '\'') {
                bytes += '\'';
                ++i;
                continue;
            }
            return i;
        }
        fail(QStringLiteral("unterminated string"));
    }

    QByteArray parseBinary(QByteArray text)
    {
        QByteArray hex;
        while (true) {
            const qsizetype close = text.indexOf('}');
            hex += text.left(close < 0 ? text.size() : close);
            if (close >= 0)
                break;
            const auto line = nextLine();
            if (!line)
                fail(QStringLiteral("'}' expected"));
            text = *line;
        }
        hex = hex.simplified().replace(' ', "");
        for (const char c : hex) {
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                fail(QStringLiteral("invalid binary data"));
        }
        if (hex.size() % 2 != 0)
            fail(QStringLiteral("odd number of hex digits"));
        return QByteArray::fromHex(hex);
    }

    void setProperty(Component* component, const QString& name, const QString& property,
                     const Value& value)
    {
        const QMetaObject* meta = component->metaObject();
        const int index = meta->indexOfProperty(property.toUtf8().constData());
        if (index < QObject::staticMetaObject.propertyCount())
            fail(QStringLiteral("property %1.%2 does not exist").arg(name, property));
        const QMetaProperty prop = meta->property(index);
        QVariant variant;
        switch (value.kind) {
        case Value::Integer: variant = value.integer; break;
        case Value::String: variant = value.string; break;
        case Value::Boolean: variant = value.boolean; break;
        case Value::Binary: break;
        }
        if (!variant.convert(prop.metaType()) || !prop.write(component, variant))
            fail(QStringLiteral("invalid value for %1.%2").arg(name, property));
    }

    QList<QByteArray> lines_;
    qsizetype index_ = 0;
    qsizetype lineNumber_ = 0;
};

} // namespace

QByteArray writeComponentData(const QList<Component*>& components)
{
    QByteArray out;
    for (Component* component : components) {
        out += "object " + component->objectName().toUtf8() + ": " + shortClassName(component).toUtf8() + "\n";
        const QMetaObject* meta = component->metaObject();
        for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
            const QMetaProperty prop = meta->property(i);
            if (!prop.isStored() || !prop.isWritable())
                continue;
            const QVariant value = prop.read(component);
            QByteArray text;
            switch (value.typeId()) {
            case QMetaType::Bool: text = value.toBool() ? "True" : "False"; break;
            case QMetaType::QString: text = quoted(value.toString()); break;
            default:
                if (!value.canConvert<qlonglong>())
                    continue;
                text = QByteArray::number(value.toLongLong());
            }
            out += "  " + QByteArray(prop.name()) + " = " + text + "\n";
        }
        WriterFiler filer(out);
        component->DefineProperties(filer);
        out += "end\n";
    }
    return out;
}

void readComponentData(QObject* owner, QByteArrayView data)
{
    QList<Component*> loaded;
    Parser parser(data);
    try {
        parser.parse(owner, loaded);
    } catch (...) {
        for (Component* component : loaded)
            component->Component::Loaded();
        throw;
    }
    for (Component* component : loaded)
        component->Loaded();
}

void readComponentDataFile(QObject* owner, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot read stored component data %1: %2").arg(path, file.errorString()));
    readComponentData(owner, file.readAll());
}

} // namespace kavelo
