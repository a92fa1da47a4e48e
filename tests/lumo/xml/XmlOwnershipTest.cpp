// Who keeps a node's memory: a document lives while any of its nodes is held or placed in
// another document. Run under ASan, these catch a node read after its memory went.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "lumo/xml/Parser.h"
#include "lumo/xml/Xml.h"
#include "support/ThrownText.h"

using lumo::xml::Parser;
using testsupport::thrownText;
using namespace std::string_literals;

Xml::Ptr keptToTheEnd;  // goes at exit, after the arena's block cache: make test-valgrind

TEST(XmlOwnership, KeptNodeOutlivesItsDocumentAndStaysEditable) {
    Xml::Ptr title;
    Xml::Ptr text;
    {
        auto doc = Xml::parse("<r><item id='7' k='a&amp;b'><title>T &lt;1&gt;</title><tail/></item></r>");
        title = doc->firstElement()->firstElement()->firstElement();
        text = title->children()[0];
    }
    EXPECT_EQ(text->nodeValue(), "T <1>");
    Xml* item = title->parent();  // same document: kept with the node
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->get("k"), "a&b");
    EXPECT_EQ(item->parent()->nodeName(), "r");

    // Edits after the document was released: in place, grown, and from a view of itself.
    text->setNodeValue("short");
    EXPECT_EQ(text->nodeValue(), "short");
    text->setNodeValue(std::string(1000, 'x') + "0123456789");
    text->setNodeValue(text->nodeValue().substr(1003));
    EXPECT_EQ(text->nodeValue(), "3456789");
    title->setNodeName("h");
    title->set("lang", "en");
    title->set("lang", "a longer language tag");
    title->addChild(Xml::createComment("c"));
    EXPECT_EQ(title->nodeName(), "h");
    EXPECT_EQ(title->get("lang"), "a longer language tag");
    ASSERT_EQ(title->children().size(), 2u);
    EXPECT_EQ(title->children()[1]->nodeValue(), "c");
    // Nothing written past the edited texts.
    EXPECT_EQ(item->get("id"), "7");
    EXPECT_EQ(item->get("k"), "a&b");
    EXPECT_EQ(item->children()[1]->nodeName(), "tail");

    // A child list read from a document nobody else holds keeps it.
    auto kids = Xml::parse("<a/>t<b/>")->children();
    std::vector<int> types;
    for (const auto& kid : kids) types.push_back(kid->nodeType());
    EXPECT_EQ(types, (std::vector<int>{Xml::Element, Xml::PCData, Xml::Element}));
    EXPECT_EQ(kids[2]->nodeName(), "b");
    // A static may keep a document to the end, on a block the cache kept (its text's copy).
    Xml::parse(std::string(30000, 'x'));
    keptToTheEnd = Xml::parse(std::string(30000, 'x'));
}

TEST(XmlOwnership, NodeMovedBetweenDocumentsKeepsItsOwnAlive) {
    auto from = Xml::parse("<a><moved x='1'><inner>deep</inner></moved></a>");
    auto to = Xml::parse("<b/>");
    Xml::Ptr b = to->firstElement();
    b->addChild(from->firstElement()->firstElement());
    EXPECT_TRUE(from->firstElement()->children().empty());
    from.reset();
    to.reset();
    ASSERT_EQ(b->children().size(), 1u);
    Xml::Ptr moved = b->children()[0];
    EXPECT_EQ(moved->parent(), b.get());
    EXPECT_EQ(moved->get("x"), "1");
    EXPECT_EQ(moved->firstElement()->children()[0]->nodeValue(), "deep");

    // The document it was moved into goes first: the node is left without a parent.
    Xml::Ptr inner = moved->firstElement();
    moved.reset();
    b.reset();
    ASSERT_NE(inner->parent(), nullptr);
    EXPECT_EQ(inner->parent()->get("x"), "1");
    EXPECT_EQ(inner->parent()->parent(), nullptr);
    auto orphan = Xml::createPCData("o");
    Xml::parse("<p/>")->firstElement()->addChild(orphan);
    EXPECT_EQ(orphan->parent(), nullptr);

    // A made node into a parsed document and out again.
    auto made = Xml::createElement("made");
    made->set("k", "v");
    auto doc = Xml::parse("<p/>");
    doc->firstElement()->addChild(made);
    made->addChild(Xml::createPCData("t"));
    auto back = Xml::createElement("back");
    back->addChild(made);
    EXPECT_TRUE(doc->firstElement()->children().empty());
    doc.reset();
    made.reset();
    EXPECT_EQ(back->firstElement()->get("k"), "v");
    EXPECT_EQ(back->firstElement()->children()[0]->nodeValue(), "t");
    // Documents each adopting the root of the one before: the last frees them by a loop.
    Xml::Ptr last = Xml::createElement("e");
    for (int i = 0; i < 100000; ++i) { Xml::Ptr next = Xml::createElement("e"); next->addChild(std::exchange(last, next)); }
    int depth = 0;
    for (Xml::Ptr at = last; at; at = at->firstElement()) ++depth;
    EXPECT_EQ(depth, 100001);
}

TEST(XmlOwnership, RemovedChildStaysUsableAndListsKeepTheirOrder) {
    auto doc = Xml::parse("<r><c a='1'><g/>text</c><d/></r>");
    Xml::Ptr r = doc->firstElement();
    Xml::Ptr c = r->firstElement();
    EXPECT_TRUE(r->removeChild(c));
    EXPECT_FALSE(r->removeChild(c));
    EXPECT_EQ(c->parent(), nullptr);
    EXPECT_EQ(r->firstElement()->nodeName(), "d");
    doc.reset();
    r.reset();
    EXPECT_EQ(c->get("a"), "1");
    ASSERT_EQ(c->children().size(), 2u);
    EXPECT_EQ(c->children()[1]->nodeValue(), "text");
    EXPECT_EQ(c->firstElement()->parent(), c.get());
    auto other = Xml::createDocument();
    other->addChild(c);
    EXPECT_EQ(c->parent(), other.get());

    // Many nodes of other documents in one list, half of them taken out again.
    auto list = Xml::createElement("list");
    std::vector<Xml::Ptr> items;
    for (int i = 0; i < 100; ++i) {
        items.push_back(Xml::createPCData(std::to_string(i)));
        list->addChild(items.back());
    }
    for (int i = 0; i < 100; i += 2) EXPECT_TRUE(list->removeChild(items[i]));
    items.clear();
    std::string values;
    for (const auto& item : list->children()) values += std::string(item->nodeValue()) + ",";
    EXPECT_EQ(values.substr(0, 12), "1,3,5,7,9,11");
    EXPECT_EQ(list->children().size(), 50u);
}

TEST(XmlParser, TrailingTextEndingInAnEntityIsKept) {
    auto doc = Xml::parse("<a/>x&amp;");
    ASSERT_EQ(doc->children().size(), 2u);
    EXPECT_EQ(doc->children()[1]->nodeValue(), "x&");
    auto nul = Xml::parse("<a>b<c/>&lt;\0d</a>"s)->firstElement();
    ASSERT_EQ(nul->children().size(), 3u);
    EXPECT_EQ(nul->children()[2]->nodeValue(), "<");
    EXPECT_EQ(Parser::parse("<a/>&#65;", true)->children()[1]->nodeValue(), "A");
}

TEST(XmlOwnership, MisuseThrowsInsteadOfCorrupting) {
    auto e = Xml::createElement("e");
    EXPECT_EQ(thrownText([&] { e->addChild(nullptr); }), "Cannot add a null child");
    // A node under itself would loop its parent chain, and its documents keep each other.
    auto doc = Xml::parse("<r><c/></r>");
    Xml::Ptr c = doc->firstElement()->firstElement(), made = Xml::createElement("m");
    c->addChild(made);
    const char* loop = "Cannot add a node to itself or to one of its descendants";
    for (const Xml::Ptr& up : {made, c, doc->firstElement(), doc}) EXPECT_EQ(thrownText([&] { made->addChild(up); }), loop);
    EXPECT_EQ(made->parent(), c.get());
    EXPECT_EQ(thrownText([&] { Parser::doParse("<x/>", false, 5, e); }), "Position 5 outside the text");
    EXPECT_EQ(thrownText([&] { Parser::doParse("<x/>", false, -1, e); }), "Position -1 outside the text");
    EXPECT_EQ(thrownText([] { Parser::doParse("<x/>", false, 0, nullptr); }), "Cannot parse into a null node");
    EXPECT_EQ(thrownText([&] { Parser::doParse("<x/>", false, 0, Xml::createPCData("t")); }),
              "Bad node type, expected Element or Document but found 1");
    // Within the text, the parsed nodes follow those the node has.
    e->addChild(Xml::createComment("first"));
    EXPECT_EQ(Parser::doParse("ab<x/></e>", false, 1, e), 9);
    ASSERT_EQ(e->children().size(), 3u);
    EXPECT_EQ(e->children()[1]->nodeValue(), "b");
    EXPECT_EQ(e->children()[2]->nodeName(), "x");
}

TEST(XmlOwnership, ChildrenRemovedWhileTheListIsWalked) {
    // A walk visits the list as it stood when it began, each child kept while visited:
    // every child is removed, also those taken from other documents (ASan: no use after
    // free), and a child added meanwhile waits for the next walk. The list keeps what it
    // listed, also once removed and dropped by the walk.
    for (bool adopted : {false, true}) {
        SCOPED_TRACE(adopted);
        Xml::Ptr r = Xml::parse("<r><a/><b/><c/></r>")->firstElement();
        if (adopted) {
            r = Xml::createElement("r");
            for (const char* name : {"<a/>", "<b/>", "<c/>"}) r->addChild(Xml::parse(name)->firstElement());
        }
        std::string seen;
        Xml::Children walked = r->children();
        for (Xml::Ptr c : walked) {
            seen += c->nodeName();
            EXPECT_TRUE(r->removeChild(c));
            r->addChild(Xml::createElement("n"));
        }
        EXPECT_EQ(seen, "abc");
        EXPECT_EQ(walked[2]->nodeName(), "c");
        ASSERT_EQ(r->children().size(), 3u);
        for (Xml::Ptr c : r->children()) EXPECT_EQ(c->nodeName(), "n");
    }
}
