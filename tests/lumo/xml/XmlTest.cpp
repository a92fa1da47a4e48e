// The node tree and the attribute accessor.
#include "support/ThrownText.h"
#include "lumo/xml/Xml.h"

#include <gtest/gtest.h>

#include "lumo/xml/Fast.h"
#include "runtime/Thrown.h"

using testsupport::thrownText;

using lumo::xml::Fast;


TEST(Xml, FirstElementAndAttributeAccess) {
    auto doc = Xml::parse("<e src='//x/y'></e>");
    EXPECT_EQ(Fast(doc->firstElement()).att.resolve("src"), "//x/y");
    EXPECT_EQ(thrownText([&] { Fast(doc->firstElement()).att.resolve("href"); }), "e is missing attribute href");
    EXPECT_EQ(thrownText([&] { Fast(doc).att.resolve("src"); }), "Cannot access document attribute src");
    EXPECT_EQ(Xml::parse("text only")->firstElement(), nullptr);
    EXPECT_EQ(Xml::parse("")->firstElement(), nullptr);
    auto pcdata = Xml::parse("t<b/>")->children()[0];
    EXPECT_EQ(thrownText([&] { Fast{pcdata}; }), "Invalid nodeType 1");
    EXPECT_EQ(thrownText([&] { Fast{nullptr}; }), "Invalid nodeType null");

    // Renamed, an element answers to its new name alone, in the accessor's message too,
    // whether the name outgrows the old one or is a piece of it.
    auto e = doc->firstElement();
    const std::string longName = "element-renamed-past-any-inline-size";
    e->setNodeName(longName);
    EXPECT_EQ(e->nodeName(), longName);
    EXPECT_EQ(thrownText([&] { Fast(e).att.resolve("href"); }), longName + " is missing attribute href");
    e->setNodeName(e->nodeName().substr(8, 7));
    EXPECT_EQ(e->nodeName(), "renamed");
    EXPECT_EQ(Fast(doc->firstElement()).att.resolve("src"), "//x/y");
}

TEST(Xml, NodeTypeRules) {
    auto comment = Xml::createComment("c");
    auto element = Xml::createElement("e");
    auto doc = Xml::createDocument();
    const std::string notElement = "Bad node type, expected Element but found ";
    EXPECT_EQ(thrownText([&] { comment->get("a"); }), notElement + "3");
    EXPECT_EQ(thrownText([&] { comment->set("a", "v"); }), notElement + "3");
    EXPECT_EQ(thrownText([&] { doc->nodeName(); }), notElement + "6");
    EXPECT_EQ(thrownText([&] { comment->setNodeName("n"); }), notElement + "3");
    EXPECT_EQ(thrownText([&] { comment->addChild(element); }),
              "Bad node type, expected Element or Document but found 3");
    EXPECT_EQ(thrownText([&] { comment->firstElement(); }), "Bad node type, expected Element or Document but found 3");
    EXPECT_EQ(thrownText([&] { element->nodeValue(); }), "Bad node type, unexpected 0");
    EXPECT_EQ(thrownText([&] { doc->setNodeValue("x"); }), "Bad node type, unexpected 6");
    EXPECT_EQ(comment->nodeValue(), "c");
    EXPECT_TRUE(comment->children().empty());
    for (auto [node, type] : {std::pair{Xml::createCData("d"), Xml::CData}, {Xml::createDocType("d"), Xml::DocType},
                              {Xml::createProcessingInstruction("d"), Xml::ProcessingInstruction}}) {
        EXPECT_EQ(std::make_pair(node->nodeType(), node->nodeValue()), std::make_pair(type, std::string_view("d")));
    }
    element->set("a", "1");
    element->set("a", "2");
    EXPECT_EQ(element->get("a"), "2");
    EXPECT_TRUE(element->exists("a"));
    EXPECT_FALSE(element->exists("b"));
    EXPECT_EQ(element->get("b"), std::nullopt);
}

TEST(Xml, AddChildMovesANodeBetweenParents) {
    auto first = Xml::createElement("first");
    auto second = Xml::createElement("second");
    auto child = Xml::createPCData("c");
    first->addChild(child);
    EXPECT_EQ(child->parent(), first.get());
    second->addChild(child);
    EXPECT_TRUE(first->children().empty());
    EXPECT_EQ(second->children().size(), 1u);
    EXPECT_EQ(child->parent(), second.get());
    EXPECT_FALSE(first->removeChild(child));
    EXPECT_TRUE(second->removeChild(child));
    EXPECT_EQ(child->parent(), nullptr);
    // Within one document too.
    auto r = Xml::parse("<r><a/>t</r>")->firstElement();
    r->firstElement()->addChild(r->children()[1]);
    EXPECT_EQ(r->children().size(), 1u);
    EXPECT_EQ(r->firstElement()->children()[0]->nodeValue(), "t");
    // A parent that goes away leaves its former children without a parent, not dangling.
    auto orphan = Xml::createElement("o");
    Xml::createElement("gone")->addChild(orphan);
    EXPECT_EQ(orphan->parent(), nullptr);
}
