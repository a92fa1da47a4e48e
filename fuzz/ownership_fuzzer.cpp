// Who keeps what alive. The input is a short program of operations over a few slots that
// hold JSON values and XML nodes: parse, take a child, copy, move, drop, set, push, add
// and remove children (also while walking them), rename, edit, read views. Beside each
// slot runs a plain model of the same value, changed by the same operations; after every
// operation each slot's value must still read as its model. ASan, UBSan and LeakSanitizer
// report what the comparison cannot see.
//
// The models never free anything, so the fuzzer itself keeps no cycle of counts: a
// container takes a value of another owner (document or heap node) only when that owner
// was made earlier, which keeps the owners' references a DAG.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lumo/format/JsonParser.h"
#include "lumo/xml/Parser.h"
#include "runtime/Dynamic.h"
#include "runtime/Thrown.h"

using runtime::Dynamic;

namespace {

[[noreturn]] void differs(const char* what) {
    std::fprintf(stderr, "ownership fuzzer: %s\n", what);
    std::abort();
}

// Long texts put documents and names past the sizes kept inline and past one 64 KB block.
const std::string& longText() {
    static const std::string text = [] {
        std::string t;
        for (int i = 0; t.size() < 66000; ++i) t += "item" + std::to_string(i) + ",";
        return t;
    }();
    return text;
}

// The first byte of a field's or node's name, from a pool of short and long names.
std::string nameFrom(std::uint8_t b) {
    static const char* const kNames[] = {"a", "b", "k", "self", "a name longer than fifteen bytes"};
    return kNames[b % 5];
}

// An index into a pool whose last text is the long one, taken one time in eight: it costs
// far more to parse and model than the short ones.
std::size_t pooled(std::uint8_t b, std::size_t size) { return b % 8 == 7 ? size - 1 : b % (size - 1); }

class Program {
public:
    Program(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {}
    bool done() const { return at_ >= end_; }
    std::uint8_t next() { return at_ < end_ ? *at_++ : 0; }

private:
    const std::uint8_t* at_;
    const std::uint8_t* end_;
};

// ---- JSON ----

const std::vector<std::string>& jsonTexts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> t = {
            R"({"k":1,"s":"a text longer than fourteen","list":[1,"x",{"deep":[true,null]}],"obj":{"a":2}})",
            R"([[],{},"short",12.5,{"a name longer than fifteen bytes":"v"}])",
            R"({"a":{"b":{"c":"a text longer than fourteen"}},"b":[1,2,3]})",
        };
        std::string big = R"({"s":")" + longText() + R"(","list":[)";
        for (int i = 0; i < 200; ++i) big += R"({"n":)" + std::to_string(i) + R"(,"t":"a text longer than fourteen"},)";
        t.push_back(big + "0]}");
        return t;
    }();
    return texts;
}

// A model value: what the real value must read as. Nodes are shared by index, as the
// real ones are by reference.
struct JModel {
    enum Kind { Null, Bool, Int, Float, Text, Array, Object } kind = Null;
    double number = 0;
    std::string text;
    int node = -1;
    int owner = 0;  // a long text of a document: that document
};
struct JNode {
    bool isArray;
    int owner;  // document or heap node that holds its count: its creation order
    std::vector<JModel> items;
    std::vector<std::pair<std::string, JModel>> fields;
};

struct JSlot {
    Dynamic real;
    JModel model;
};

class JsonWorld {
public:
    void step(Program& p) {
        // The op byte's rest chooses where a field's name comes from (0: the pool).
        std::uint8_t opByte = p.next();
        std::uint8_t op = opByte % 9;
        std::uint8_t nameSource = opByte / 9;
        JSlot& a = slots_[p.next() % 4];
        JSlot& b = slots_[p.next() % 4];
        std::uint8_t arg = p.next();
        switch (op) {
            case 0: parse(a, arg); break;
            case 1: child(a, b, arg); break;
            case 2:
                a.real = b.real;
                a.model = b.model;
                break;
            case 3:
                if (&a != &b) {
                    a.real = std::move(b.real);
                    a.model = std::exchange(b.model, JModel{});
                }
                break;
            case 4:
                a.real = Dynamic();
                a.model = {};
                break;
            case 5: store(a, b, arg, nameSource); break;
            case 6: {
                bool isArray = arg & 1;
                a.real = isArray ? Dynamic::array() : Dynamic::object();
                // Room for a few fields, so that a later set meets a full storage at sizes
                // other than those of growing by half.
                if (!isArray) a.real.asObject().reserve((arg >> 1) & 7);
                a.model = {isArray ? JModel::Array : JModel::Object, 0, {}, newNode(isArray, newOwner(true))};
                break;
            }
            case 7: {
                // A scalar or a string into a's container.
                JSlot value{arg & 1 ? Dynamic(std::int32_t{arg}) : Dynamic(nameFrom(arg)), {}};
                value.model = arg & 1 ? JModel{JModel::Int, static_cast<double>(arg), {}, -1} : JModel{JModel::Text, 0, nameFrom(arg), -1};
                store(a, value, arg >> 1, nameSource);
                break;
            }
            default: readViews(a); break;
        }
        for (JSlot& s : slots_) check(s);
    }

private:
    int newNode(bool isArray, int owner) {
        nodes_.push_back({isArray, owner, {}, {}});
        return static_cast<int>(nodes_.size()) - 1;
    }

    JModel modelOf(const Dynamic& v, int owner) {
        switch (v.kind()) {
            case Dynamic::Kind::Bool: return {JModel::Bool, v.asBool() ? 1.0 : 0.0, {}, -1};
            case Dynamic::Kind::Int: return {JModel::Int, static_cast<double>(v.asInt()), {}, -1};
            case Dynamic::Kind::Float: return {JModel::Float, v.asFloat(), {}, -1};
            case Dynamic::Kind::String:
                return {JModel::Text, 0, std::string(v.asString()), -1, v.asString().size() > Dynamic::kInline ? owner : 0};
            case Dynamic::Kind::Array: {
                int n = newNode(true, owner);
                for (const Dynamic& item : v.asArray()) {
                    JModel m = modelOf(item, owner);
                    nodes_[n].items.push_back(m);
                }
                return {JModel::Array, 0, {}, n};
            }
            case Dynamic::Kind::Object: {
                int n = newNode(false, owner);
                for (const auto& field : v.asObject().fields()) {
                    JModel m = modelOf(field.value, owner);
                    nodes_[n].fields.emplace_back(std::string(std::string_view(field.name)), m);
                }
                return {JModel::Object, 0, {}, n};
            }
            default: return {};
        }
    }

    void parse(JSlot& a, std::uint8_t which) {
        const std::string& text = jsonTexts()[pooled(which, jsonTexts().size())];
        a.real = lumo::format::JsonParser(text).parseRec();
        a.model = modelOf(a.real, newOwner(false));
    }

    void child(JSlot& a, const JSlot& b, std::uint8_t i) {
        if (b.model.node < 0) return;
        const JNode& n = nodes_[b.model.node];
        if (n.isArray && !n.items.empty()) {
            std::size_t k = i % n.items.size();
            Dynamic item = b.real.asArray()[k];
            a.model = n.items[k];
            a.real = std::move(item);
        } else if (!n.isArray && !n.fields.empty()) {
            std::size_t k = i % n.fields.size();
            Dynamic value = b.real.asObject().fields()[k].value;
            a.model = n.fields[k].second;
            a.real = std::move(value);
        }
    }

    // Whether a container of owner `to` may take a value that counts on owner `from`
    // without closing a cycle: no edge at all, a document's own node, or an older owner.
    bool mayHold(int to, int from) const {
        if (from == 0) return true;
        if (from == to) return !heapOwner_[static_cast<std::size_t>(to)];
        return from < to;
    }

    // b's value into a's container, copied or moved (arg's low bit); a field's name from
    // the rest, or a view (viewedName).
    void store(JSlot& a, JSlot& b, std::uint8_t arg, std::uint8_t nameSource) {
        const int target = a.model.node;
        if (target < 0) return;
        const int to = nodes_[target].owner;
        if (!mayHold(to, ownerOf(b.model))) return;
        JModel value = b.model;
        const bool isArray = nodes_[target].isArray;
        // The container is reached before the value may be moved out of the same slot.
        runtime::DynamicArray* array = isArray ? &a.real.asArray() : nullptr;
        runtime::DynamicObject* object = isArray ? nullptr : &a.real.asObject();
        const bool move = arg & 1;
        const std::string pooled = nameFrom(arg >> 1);
        const std::string_view viewed = viewedName(a, b, move, nameSource, arg >> 1, pooled);
        if (move) b.model = {};
        JNode& n = nodes_[target];
        if (array != nullptr) {
            array->push_back(move ? std::move(b.real) : Dynamic(b.real));
            n.items.push_back(value);
            return;
        }
        const std::string name(viewed);
        object->set(viewed, move ? std::move(b.real) : Dynamic(b.real));
        auto found = std::find_if(n.fields.begin(), n.fields.end(), [&](const auto& f) { return f.first == name; });
        if (found != n.fields.end()) {
            found->second = value;
        } else {
            n.fields.emplace_back(name, value);
        }
    }

    // A name that views a string a slot holds, which set() must read before it grows the
    // storage it may lie in: a field's name or text in a's own object (one time in two) or
    // in another slot's, or a slot's own text; whole or its tail. The pooled name when
    // `how` is 0 or the slot holds no string.
    std::string_view viewedName(const JSlot& a, const JSlot& b, bool moved, std::uint8_t how, std::uint8_t which,
                                std::string_view pooled) const {
        if (how == 0) return pooled;
        const JSlot& from = how & 1 ? a : slots_[(how >> 1) & 3];
        if (moved && &from == &b) return pooled;  // its value leaves before set() reads the name
        std::string_view view = pooled;
        if (from.model.kind == JModel::Text) {
            view = from.real.asString();
        } else if (from.model.kind == JModel::Object && from.real.asObject().size() > 0) {
            const auto& field = from.real.asObject().fields()[which % from.real.asObject().size()];
            const bool text = (how & 8) && field.value.kind() == Dynamic::Kind::String;
            view = text ? field.value.asString() : std::string_view(field.name);
        }
        return how & 16 ? view.substr(view.size() / 2) : view;
    }

    int ownerOf(const JModel& m) const { return m.node >= 0 ? nodes_[m.node].owner : m.owner; }

    int newOwner(bool heap) {
        heapOwner_.push_back(heap);
        return static_cast<int>(heapOwner_.size()) - 1;
    }

    void readViews(const JSlot& a) {
        if (a.model.kind == JModel::Text) {
            std::string_view view = a.real.asString();
            if (view != a.model.text) differs("string view");
            if (a.real.asString() != view) differs("string view read again");
        } else if (a.model.kind == JModel::Object) {
            std::vector<std::string_view> names;
            for (const auto& field : a.real.asObject().fields()) names.emplace_back(field.name);
            const auto& fields = nodes_[a.model.node].fields;
            if (names.size() != fields.size()) differs("field count");
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (names[i] != fields[i].first) differs("field name view");
            }
        }
    }

    // Compares up to a budget of values, so that shared nodes cannot make it explode.
    void check(const JSlot& s) {
        int budget = 300;
        same(s.real, s.model, budget);
    }

    void same(const Dynamic& real, const JModel& model, int& budget) {
        if (--budget < 0) return;
        switch (model.kind) {
            case JModel::Null:
                if (!real.isNull()) differs("null");
                return;
            case JModel::Bool:
                if (real.kind() != Dynamic::Kind::Bool || real.asBool() != (model.number != 0)) differs("bool");
                return;
            case JModel::Int:
                if (real.kind() != Dynamic::Kind::Int || real.asInt() != model.number) differs("int");
                return;
            case JModel::Float:
                if (real.kind() != Dynamic::Kind::Float || real.asFloat() != model.number) differs("float");
                return;
            case JModel::Text:
                if (real.kind() != Dynamic::Kind::String || real.asString() != model.text) differs("text");
                return;
            case JModel::Array: {
                const JNode& n = nodes_[model.node];
                if (real.kind() != Dynamic::Kind::Array || real.asArray().size() != n.items.size()) differs("array");
                for (std::size_t i = 0; i < n.items.size(); ++i) same(real.asArray()[i], n.items[i], budget);
                return;
            }
            case JModel::Object: {
                const JNode& n = nodes_[model.node];
                if (real.kind() != Dynamic::Kind::Object || real.asObject().size() != n.fields.size()) differs("object");
                for (std::size_t i = 0; i < n.fields.size(); ++i) {
                    const auto& field = real.asObject().fields()[i];
                    if (std::string_view(field.name) != n.fields[i].first) differs("field name");
                    same(field.value, n.fields[i].second, budget);
                }
                return;
            }
        }
    }

    std::vector<JNode> nodes_;
    JSlot slots_[4];
    std::vector<bool> heapOwner_ = {false};  // owner 0: none
};

// ---- XML ----

const std::vector<std::string>& xmlTexts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> t = {
            "<r a='1'><x>t &amp; u</x><y/>text<!--c--><z><w/></z></r>",
            "<doc><a/><b k='v'>a text longer than fifteen bytes</b><![CDATA[cd]]></doc>",
        };
        std::string big = "<big><t>" + longText() + "</t>";
        for (int i = 0; i < 100; ++i) big += "<i n='k'>" + std::to_string(i) + " some text</i>";
        t.push_back(big + "</big>");
        return t;
    }();
    return texts;
}

struct XNode {
    int type;
    std::string text;  // an Element's name, a text node's value
    int store;         // the document its memory belongs to: its creation order
    int parent = -1;
    std::vector<int> children;
    std::vector<std::pair<std::string, std::string>> attributes;  // those the program set
};

struct XSlot {
    Xml::Ptr real;
    int model = -1;
};

class XmlWorld {
public:
    void step(Program& p) {
        std::uint8_t op = p.next() % 12;
        XSlot& a = slots_[p.next() % 4];
        XSlot& b = slots_[p.next() % 4];
        std::uint8_t arg = p.next();
        switch (op) {
            case 0: {
                a.real = Xml::parse(xmlTexts()[pooled(arg, xmlTexts().size())]);
                a.model = modelOf(a.real, ++stores_);
                break;
            }
            case 1:
                if (b.model >= 0 && !nodes_[b.model].children.empty()) {
                    std::size_t k = arg % nodes_[b.model].children.size();
                    Xml::Ptr child = b.real->children()[k];
                    a.model = nodes_[b.model].children[k];
                    a.real = std::move(child);
                }
                break;
            case 2:
                a = b;
                break;
            case 3:
                if (&a != &b) a = std::exchange(b, XSlot{});
                break;
            case 4: a = XSlot{}; break;
            case 5: add(a, b); break;
            case 6:
                if (isContainer(a) && b.model >= 0) {
                    bool removed = a.real->removeChild(b.real);
                    if (removed != takeOut(a.model, b.model)) differs("removeChild");
                }
                break;
            case 7: removeWhileWalking(a, arg & 1); break;
            case 8: edit(a, b, arg); break;
            case 9:
                if (isElement(a)) {
                    std::string name = nameFrom(arg), value = nameFrom(arg >> 3);
                    a.real->set(name, value);
                    auto& list = nodes_[a.model].attributes;
                    auto found = std::find_if(list.begin(), list.end(), [&](const auto& at) { return at.first == name; });
                    if (found != list.end()) {
                        found->second = value;
                    } else {
                        list.emplace_back(name, value);
                    }
                }
                break;
            case 10: {
                bool element = arg & 1;
                a.real = element ? Xml::createElement(nameFrom(arg >> 1)) : Xml::createPCData(nameFrom(arg >> 1));
                a.model = newNode(element ? Xml::Element : Xml::PCData, nameFrom(arg >> 1), ++stores_);
                break;
            }
            default: readViews(a); break;
        }
        for (const XSlot& s : slots_) {
            int budget = 300;
            same(s.real, s.model, budget);
        }
    }

private:
    bool isContainer(const XSlot& s) const {
        return s.model >= 0 && (nodes_[s.model].type == Xml::Element || nodes_[s.model].type == Xml::Document);
    }
    bool isElement(const XSlot& s) const { return s.model >= 0 && nodes_[s.model].type == Xml::Element; }

    int newNode(int type, std::string text, int store) {
        nodes_.push_back(XNode{type, std::move(text), store, -1, {}, {}});
        return static_cast<int>(nodes_.size()) - 1;
    }

    int modelOf(const Xml::Ptr& x, int store) {
        int n = newNode(x->nodeType(), {}, store);
        if (x->nodeType() == Xml::Element) nodes_[n].text = x->nodeName();
        if (x->nodeType() != Xml::Element && x->nodeType() != Xml::Document) nodes_[n].text = x->nodeValue();
        for (const Xml::Ptr& child : x->children()) {
            int c = modelOf(child, store);
            nodes_[c].parent = n;
            nodes_[n].children.push_back(c);
        }
        return n;
    }

    bool takeOut(int parent, int child) {
        auto& list = nodes_[parent].children;
        auto at = std::find(list.begin(), list.end(), child);
        if (at == list.end()) return false;
        list.erase(at);
        nodes_[child].parent = -1;
        return true;
    }

    // b under a, unless that would make a cycle of documents (a document takes nodes only
    // of those made before it). A loop in the tree is refused, and changes nothing.
    void add(const XSlot& a, const XSlot& b) {
        if (!isContainer(a) || b.model < 0) return;
        for (int up = a.model; up >= 0; up = nodes_[up].parent) {
            if (up != b.model) continue;
            try {
                a.real->addChild(b.real);
            } catch (const runtime::Thrown&) {
                return;
            }
            differs("addChild under itself");
        }
        if (nodes_[b.model].store > nodes_[a.model].store) return;
        a.real->addChild(b.real);
        if (nodes_[b.model].parent >= 0) takeOut(nodes_[b.model].parent, b.model);
        nodes_[b.model].parent = a.model;
        nodes_[a.model].children.push_back(b.model);
    }

    void removeWhileWalking(const XSlot& a, bool addMeanwhile) {
        if (!isContainer(a)) return;
        for (const Xml::Ptr& child : a.real->children()) {
            if (!a.real->removeChild(child)) differs("child walked but not in the list");
            if (addMeanwhile) a.real->addChild(Xml::createComment("added"));
        }
        std::vector<int> old = std::exchange(nodes_[a.model].children, {});
        for (int c : old) {
            nodes_[c].parent = -1;
            if (addMeanwhile) {
                int n = newNode(Xml::Comment, "added", ++stores_);
                nodes_[n].parent = a.model;
                nodes_[a.model].children.push_back(n);
            }
        }
    }

    // A rename or a text edit, to a pooled text or to a view of b's own (maybe a itself).
    void edit(const XSlot& a, const XSlot& b, std::uint8_t arg) {
        if (a.model < 0 || nodes_[a.model].type == Xml::Document) return;
        bool element = nodes_[a.model].type == Xml::Element;
        std::string text = arg & 1 ? nameFrom(arg >> 1) : std::string(arg % 40, 'x') + nameFrom(arg);
        std::string_view from = text;
        if ((arg & 2) && b.model >= 0 && nodes_[b.model].type != Xml::Document) {
            from = nodes_[b.model].type == Xml::Element ? b.real->nodeName() : b.real->nodeValue();
            if (arg & 4) from = from.substr(from.size() / 2);
        }
        std::string expected(from);
        if (element) {
            a.real->setNodeName(from);
        } else {
            a.real->setNodeValue(from);
        }
        nodes_[a.model].text = expected;
    }

    void readViews(const XSlot& a) {
        if (a.model < 0 || nodes_[a.model].type == Xml::Document) return;
        std::string_view view = nodes_[a.model].type == Xml::Element ? a.real->nodeName() : a.real->nodeValue();
        if (view != nodes_[a.model].text) differs("name or value view");
        std::string_view again = nodes_[a.model].type == Xml::Element ? a.real->nodeName() : a.real->nodeValue();
        if (again != view) differs("view read again");
    }

    void same(const Xml::Ptr& real, int model, int& budget) {
        if (--budget < 0) return;
        if (model < 0) {
            if (real) differs("xml null");
            return;
        }
        const XNode& n = nodes_[model];
        if (!real || real->nodeType() != n.type) differs("node type");
        if (n.type == Xml::Element && real->nodeName() != n.text) differs("node name");
        if (n.type != Xml::Element && n.type != Xml::Document && real->nodeValue() != n.text) differs("node value");
        for (const auto& [name, value] : n.attributes) {
            if (real->get(name) != value) differs("attribute");
        }
        if (n.type != Xml::Element && n.type != Xml::Document) return;
        Xml::Children children = real->children();
        if (children.size() != n.children.size()) differs("child count");
        for (std::size_t i = 0; i < n.children.size(); ++i) same(children[i], n.children[i], budget);
    }

    std::vector<XNode> nodes_;
    XSlot slots_[4];
    int stores_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Program program(data, size);
    // The first byte sets which world each step runs in, in turn by its bits.
    std::uint8_t worlds = program.next();
    JsonWorld json;
    XmlWorld xml;
    for (int steps = 0; !program.done() && steps < 64; ++steps) {
        if ((worlds >> (steps % 8)) & 1) {
            xml.step(program);
        } else {
            json.step(program);
        }
    }
    return 0;
}
