#include "platform/ComponentData.h"
#include "platform/Exception.h"

#include <QDataStream>
#include <gtest/gtest.h>

namespace kavelo {

// A component with one of each kind of stored value.
class TSample : public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString Host MEMBER host)
    Q_PROPERTY(int Port READ port WRITE setPort)
    Q_PROPERTY(quint32 Size MEMBER size)
    Q_PROPERTY(bool Enabled MEMBER enabled)
public:
    using TComponent::TComponent;

    int port() const { return port_; }
    void setPort(int value)
    {
        port_ = value;
        loadingWhenPortSet = componentState().testFlag(csLoading);
    }

    void Loaded() override
    {
        TComponent::Loaded();
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
        first->setObjectName(QStringLiteral("Sample1"));
        second->setObjectName(QStringLiteral("Sample2"));
    }

    QObject owner;
    TSample* first = new TSample(&owner);
    TSample* second = new TSample(&owner);
};

TEST_F(ComponentDataTest, ReadSetsPropertiesByNameThenRunsLoadedOnEveryComponent)
{
    readComponentData(&owner, "object Sample1: TSample\n"
                              "  Host = 'it''s here'#13'x'\n"
                              "  Port = 5551\n"
                              "  Size = 4000000000\n"
                              "  Enabled = True\n"
                              "  Block = {\n"
                              "    81000000 31\n"
                              "    00 }\n"
                              "end\n"
                              "object Sample2: TSample\n"
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
    EXPECT_FALSE(first->componentState().testFlag(TComponent::csLoading));
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
    auto* copy = new TSample(&otherOwner);
    copy->setObjectName(QStringLiteral("Sample1"));
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
    EXPECT_FALSE(first->componentState().testFlag(TComponent::csLoading));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ComponentDataErrors,
    ::testing::Values(
        BadData{"UnknownComponent", "object Nope: TSample\nend\n", "component Nope does not exist"},
        BadData{"WrongClass", "object Sample1: TNMUDP\nend\n", "line 1"},
        BadData{"UnknownProperty", "object Sample1: TSample\n  Colour = 3\nend\n", "Sample1.Colour does not exist"},
        BadData{"UnknownBlock", "object Sample1: TSample\n  Other = {00}\nend\n", "Sample1.Other does not exist"},
        BadData{"InheritedNameIsNotStored", "object Sample1: TSample\n  objectName = 'x'\nend\n", "does not exist"},
        BadData{"MissingEnd", "object Sample1: TSample\n  Port = 1\n", "'end' expected"},
        BadData{"UnterminatedString", "object Sample1: TSample\n  Host = 'abc\nend\n", "line 2"},
        BadData{"BadNumber", "object Sample1: TSample\n  Port = 12x\nend\n", "invalid value"},
        BadData{"WrongType", "object Sample1: TSample\n  Port = 'abc'\nend\n", "invalid value for Sample1.Port"},
        BadData{"OddHex", "object Sample1: TSample\n  Block = {123}\nend\n", "odd number"},
        BadData{"UnclosedBlock", "object Sample1: TSample\n  Block = {12\n", "'}' expected"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kavelo

#include "ComponentDataTest.moc"
