#include "platform/ComponentData.h"
#include "platform/Exception.h"

#include <QDataStream>
#include <gtest/gtest.h>

namespace kavelo {

// A component with one of each kind of stored value.
class SampleComponent : public Component {
    Q_OBJECT
    Q_PROPERTY(QString Host MEMBER host)
    Q_PROPERTY(int Port READ port WRITE setPort)
    Q_PROPERTY(quint32 Size MEMBER size)
    Q_PROPERTY(bool Enabled MEMBER enabled)
public:
    using Component::Component;

    int port() const { return port_; }
    void setPort(int value)
    {
        port_ = value;
        loadingWhenPortSet = componentState().testFlag(csLoading);
    }

    void Loaded() override
    {
        Component::Loaded();
        ++loadedCalls;
    }

    void DefineProperties(Filer& filer) override
    {
        filer.DefineBinaryProperty(
            QStringLiteral("Block"), [this](QIODevice& s) { block = s.readAll(); },
            [this](QIODevice& s) { s.write(block); }, true);
    }

    QString host;
    quint32 size = 0;
    bool enabled = false;
    QByteArray block;
    int loadedCalls = 0;
    bool loadingWhenPortSet = false;

private:
    int port_ = 0;
};

namespace {

class ComponentDataTest : public ::testing::Test {
protected:
    ComponentDataTest()
    {
        first->setObjectName(QStringLiteral("first"));
        second->setObjectName(QStringLiteral("second"));
    }

    QObject owner;
    SampleComponent* first = new SampleComponent(&owner);
    SampleComponent* second = new SampleComponent(&owner);
};

TEST_F(ComponentDataTest, ReadSetsPropertiesByNameThenRunsLoadedOnEveryComponent)
{
    readComponentData(&owner, "object first: SampleComponent\n"
                              "  Host = 'it''s here'#13'x'\n"
                              "  Port = 5551\n"
                              "  Size = 4000000000\n"
                              "  Enabled = True\n"
                              "  Block = {\n"
                              "    81000000 31\n"
                              "    00 }\n"
                              "end\n"
                              "object second: SampleComponent\n"
                              "  Port = -1\n"
                              "end\n");
    EXPECT_EQ(first->host, QStringLiteral("it's here\rx"));
    EXPECT_EQ(first->port(), 5551);
    EXPECT_EQ(first->size, 4000000000u);
    EXPECT_TRUE(first->enabled);
    EXPECT_EQ(first->block, QByteArray::fromHex("810000003100"));
    EXPECT_TRUE(first->loadingWhenPortSet) << "setters run while the component is loading";
    EXPECT_EQ(first->loadedCalls, 1);
    EXPECT_EQ(second->port(), -1);
    EXPECT_EQ(second->loadedCalls, 1);
    EXPECT_FALSE(first->componentState().testFlag(Component::csLoading));
}

TEST_F(ComponentDataTest, WrittenDataReadsBackTheSame)
{
    first->host = QStringLiteral("a'b\tc é");
    first->setPort(5552);
    first->size = 2000;
    first->enabled = true;
    first->block = QByteArray(133, '\x81');
    const QByteArray data = writeComponentData({first});

    QObject otherOwner;
    auto* copy = new SampleComponent(&otherOwner);
    copy->setObjectName(QStringLiteral("first"));
    readComponentData(&otherOwner, data);
    EXPECT_EQ(copy->host, first->host);
    EXPECT_EQ(copy->port(), 5552);
    EXPECT_EQ(copy->size, 2000u);
    EXPECT_TRUE(copy->enabled);
    EXPECT_EQ(copy->block, first->block);
}

struct BadData {
    const char* name;
    const char* data;
    const char* message;
};

class ComponentDataErrors : public ComponentDataTest, public ::testing::WithParamInterface<BadData> {};

TEST_P(ComponentDataErrors, MalformedDataRaisesAndNamesTheLine)
{
    try {
        readComponentData(&owner, GetParam().data);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().contains(QString::fromUtf8(GetParam().message))) << e.Message().toStdString();
    }
    EXPECT_FALSE(first->componentState().testFlag(Component::csLoading));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ComponentDataErrors,
    ::testing::Values(
        BadData{"UnknownComponent", "object Nope: SampleComponent\nend\n", "component Nope does not exist"},
        BadData{"WrongClass", "object first: UdpEndpoint\nend\n", "line 1"},
        BadData{"UnknownProperty", "object first: SampleComponent\n  Colour = 3\nend\n", "first.Colour does not exist"},
        BadData{"UnknownBlock", "object first: SampleComponent\n  Other = {00}\nend\n", "first.Other does not exist"},
        BadData{"InheritedNameIsNotStored", "object first: SampleComponent\n  objectName = 'x'\nend\n", "does not exist"},
        BadData{"MissingEnd", "object first: SampleComponent\n  Port = 1\n", "'end' expected"},
        BadData{"UnterminatedString", "object first: SampleComponent\n  Host = 'abc\nend\n", "line 2"},
        BadData{"BadNumber", "object first: SampleComponent\n  Port = 12x\nend\n", "invalid value"},
        BadData{"WrongType", "object first: SampleComponent\n  Port = 'abc'\nend\n", "invalid value for first.Port"},
        BadData{"OddHex", "object first: SampleComponent\n  Block = {123}\nend\n", "odd number"},
        BadData{"UnclosedBlock", "object first: SampleComponent\n  Block = {12\n", "'}' expected"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kavelo

#include "ComponentDataTest.moc"
