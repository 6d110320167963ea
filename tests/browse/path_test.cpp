#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browse/path.h"
#include "support/debug_capture.h"

namespace {

struct Parsed {
    FI::FIPathPtr path;
    std::string error;
};

Parsed Parse(const std::string& text) {
    ValueList list;
    TokenizePath(list, FIValue(text));
    FIValue error;
    Parsed p;
    p.path.reset(ParsePath(list, error));
    p.error = error.ToStdString();
    return p;
}

std::string Show(const PathToken* t) {
    if (t == nullptr) return "none";
    return t->punctuation ? std::string("p:") + t->ch : "s:" + std::string(t->text);
}

std::vector<std::string> Describe(const ValueList& list) {
    std::vector<std::string> out;
    for (const PathToken& t : list.Tokens()) out.push_back(Show(&t));
    return out;
}

TEST(TokenizePathTest, SplitsDelimitersStringsAndQuotes) {
    struct Row {
        const char* text;
        std::vector<std::string> tokens;
    };
    const std::vector<Row> rows = {
        {"A.B", {"s:A", "p:.", "s:B"}},
        {"\"A.B\"", {"s:A.B"}},
        {"\"say \"\"hi\"\"\".x", {"s:say \"hi\"", "p:.", "s:x"}},
        {"A B", {"s:A B"}},
        {"X[Y=3]", {"s:X", "p:[", "s:Y", "p:=", "s:3", "p:]"}},
        {"%#'&!|()", {"p:%", "p:#", "p:'", "p:&", "p:!", "p:|", "p:(", "p:)"}},
        {"\"open", {"s:open"}},  // a missing closing quote ends at the text's end
        {"\"\"", {"s:"}},
        {"\xe9\xff.\x80", {"s:\xe9\xff", "p:.", "s:\x80"}},
        {"", {}},
    };
    for (const Row& r : rows) {
        ValueList list;
        TokenizePath(list, FIValue(r.text));
        EXPECT_EQ(Describe(list), r.tokens) << r.text;
    }
    ValueList numeric;
    TokenizePath(numeric, FIValue(2.5));
    EXPECT_EQ(Describe(numeric), (std::vector<std::string>{"s:2.5"}));
    TokenizePath(numeric, FIValue(-12));
    EXPECT_EQ(Describe(numeric), (std::vector<std::string>{"s:-12"}));
}

TEST(TokenizePathTest, NextAndPeek) {
    ValueList list;
    TokenizePath(list, FIValue("a.b"));
    EXPECT_EQ(list.Peek(-1), nullptr);
    EXPECT_EQ(list.Next()->text, "a");
    EXPECT_EQ(list.Peek(-1)->text, "a");
    EXPECT_TRUE(list.Peek()->Is('.'));
    EXPECT_EQ(list.Peek(1)->text, "b");
    EXPECT_EQ(list.Peek(2), nullptr);
    list.Next();
    list.Next();
    EXPECT_EQ(list.Next(), nullptr);
    EXPECT_EQ(list.Next(), nullptr);
    TokenizePath(list, FIValue("z"));  // refilling clears the old tokens and position
    EXPECT_EQ(list.Next()->text, "z");
}

// A path of many tokens is read in order however far ahead one looks, with quoted strings rewritten
// where they stand; listing every token neither moves the reading nor changes what it reads.
TEST(TokenizePathTest, LongPathsReadInOrderWhilePeekingAhead) {
    std::string text;
    for (int i = 0; i < 400; ++i) text += "\"q\"\"" + std::to_string(i) + "\".Name" + std::to_string(i) + "[A=1]#2.";
    text += "end";
    ValueList list;
    TokenizePath(list, FIValue(text));
    const std::vector<std::string> all = Describe(list);
    ASSERT_EQ(all.size(), 400u * 11 + 1);
    EXPECT_EQ(all[0], "s:q\"0");
    EXPECT_EQ(all[13], "s:Name1");
    std::vector<std::string> read;
    for (size_t i = 0; i < all.size(); ++i) {
        if (i % 97 == 0) {
            EXPECT_EQ(Show(list.Peek(60)), i + 60 < all.size() ? all[i + 60] : "none") << i;
        }
        if (i == 2000) {
            EXPECT_EQ(Describe(list), all);
        }
        EXPECT_EQ(list.Position(), i);
        EXPECT_EQ(Show(list.Peek()), all[i]);
        read.push_back(Show(list.Next()));
        EXPECT_EQ(Show(list.Peek(-1)), read.back());
    }
    EXPECT_EQ(read, all);
    EXPECT_EQ(list.Next(), nullptr);
    EXPECT_EQ(Show(list.Peek(-1)), "s:end");
}

TEST(ParsePathTest, ElementsCountsAndSuccessors) {
    struct Row {
        const char* text;
        const char* name;
        int count;
        const char* next;  // null: no successor
    };
    const Row rows[] = {
        {"A.B", "A", -1, "B"},
        {"\"A.B\"", "A.B", -1, nullptr},
        {"\"a\"\"b.c\".d", "a\"b.c", -1, "d"},
        {"Blocks#2", "Blocks", 2, nullptr},
        {"#0", "", 0, nullptr},
        {"A#.B", "A", 0, nullptr},  // a punctuation token as count gives 0; "B" then ends the element, dropped
        {"A B", "A B", -1, nullptr},
        {"", "", -1, nullptr},
        {"*.#1", "*", -1, ""},
    };
    for (const Row& r : rows) {
        Parsed p = Parse(r.text);
        ASSERT_TRUE(p.error.empty()) << r.text;
        EXPECT_STREQ(p.path->GetNameText(), r.name) << r.text;
        EXPECT_EQ(p.path->GetCount(), r.count) << r.text;
        FI::FIPathBase* next = p.path->GetNext();
        if (r.next == nullptr) {
            EXPECT_EQ(next, nullptr) << r.text;
        } else {
            ASSERT_NE(next, nullptr) << r.text;
            EXPECT_STREQ(next->GetNameText(), r.next) << r.text;
        }
    }
    EXPECT_EQ(Parse("A.B").path->GetNext()->GetNext(), nullptr);
    EXPECT_EQ(Parse("*.#1").path->GetNext()->GetCount(), 1);

    Parsed quoteFlag = Parse("'Name.x");
    EXPECT_TRUE(quoteFlag.path->GetQuoteFlag());
    EXPECT_FALSE(quoteFlag.path->GetNext()->GetQuoteFlag());
    EXPECT_EQ(quoteFlag.path->SecondCount().ToInt(), 1);

    Parsed ab = Parse("A.B");
    FIValue name;
    ab.path->GetName(name);
    EXPECT_STREQ(name.GetString(), "A");
    ab.path->SetAttributeLabel("label");
    EXPECT_STREQ(ab.path->GetAttributeLabel(), "label");
}

TEST(ParsePathTest, PredicatesWithAndOrNot) {
    Parsed p = Parse("X[Y=3]");
    ASSERT_TRUE(p.error.empty()) << p.error;
    ASSERT_EQ(p.path->Predicates().size(), 1u);
    const FI::FIPathPredicate& y = p.path->Predicates()[0];
    EXPECT_EQ(y.flags, 2u);
    EXPECT_STREQ(y.path->GetNameText(), "Y");
    ASSERT_TRUE(y.compared);
    EXPECT_STREQ(y.compared->GetString(), "3");

    Parsed two = Parse("X[Y]|[Z]");
    ASSERT_EQ(two.path->Predicates().size(), 2u);
    EXPECT_EQ(two.path->Predicates()[0].flags, 2u);
    EXPECT_EQ(two.path->Predicates()[1].flags, 1u);
    EXPECT_FALSE(two.path->Predicates()[1].compared);

    Parsed notted = Parse("X![Y]");
    ASSERT_EQ(notted.path->Predicates().size(), 1u);
    EXPECT_EQ(notted.path->Predicates()[0].flags, 6u);

    Parsed mix = Parse("X[A]&![B.C=\"q.r\"]|![D].Next");
    ASSERT_TRUE(mix.error.empty()) << mix.error;
    ASSERT_EQ(mix.path->Predicates().size(), 3u);
    EXPECT_EQ(mix.path->Predicates()[1].flags, 6u);
    EXPECT_EQ(mix.path->Predicates()[2].flags, 5u);
    const FI::FIPathBase* bc = mix.path->Predicates()[1].path.get();
    EXPECT_STREQ(const_cast<FI::FIPathBase*>(bc)->GetNext()->GetNameText(), "C");
    EXPECT_STREQ(mix.path->Predicates()[1].compared->GetString(), "q.r");
    EXPECT_STREQ(mix.path->GetNext()->GetNameText(), "Next");

    Parsed nested = Parse("X[Y[Z=1]]");
    ASSERT_TRUE(nested.error.empty()) << nested.error;
    EXPECT_EQ(nested.path->Predicates()[0].path->Predicates().size(), 1u);

    Parsed emptyPredicate = Parse("X[]");
    ASSERT_TRUE(emptyPredicate.error.empty());
    EXPECT_STREQ(emptyPredicate.path->Predicates()[0].path->GetNameText(), "");
}

TEST(ParsePathTest, SelectedAttributeAndIgnoredTails) {
    Parsed p = Parse("X(value)");
    ASSERT_TRUE(p.error.empty());
    EXPECT_STREQ(p.path->SelectedAttribute().GetString(), "value");

    Parsed deep = Parse("A.B(uom)");
    EXPECT_TRUE(deep.path->SelectedAttribute().IsEmpty());
    EXPECT_STREQ(deep.path->GetNext()->SelectedAttribute().GetString(), "uom");

    Parsed tail = Parse("X(value).Y.Z");
    EXPECT_TRUE(tail.error.empty());
    EXPECT_EQ(tail.path->GetNext(), nullptr);

    Parsed dropped = Parse("A]B.C");
    EXPECT_TRUE(dropped.error.empty());
    EXPECT_STREQ(dropped.path->GetNameText(), "A");
    EXPECT_EQ(dropped.path->GetNext(), nullptr);
}

TEST(ParsePathTest, ErrorsNameTheSource) {
    struct Row {
        const char* text;
        const char* message;
    };
    const Row rows[] = {
        {"Blocks#", "Parse error, count expected following # in: "},
        {"X[Y", "Parse error, ] expected in: "},
        {"X[Y=", "Parse error, string expected in: "},
        {"X[Y=]", "Parse error, string expected in: "},
        {"X[Y=3", "Parse error, ] expected in: "},
        {"X[Y=3)", "Parse error, ] expected in: "},
        {"X|Y", "Parse error, [ expected in: "},
        {"X!", "Parse error, [ expected in: "},
        {"X(value", "Parse error, ) expected in: "},
        {"X()", "Parse error, string expected in: "},
        {"X(", "Parse error, string expected in: "},
        {"X[Y(value)]", "Parse error, ] expected in: "},
        {"A.B.X[Y.Z", "Parse error, ] expected in: "},
    };
    for (const Row& r : rows) {
        Parsed p = Parse(r.text);
        EXPECT_EQ(p.error, std::string(r.message) + r.text) << r.text;
        EXPECT_NE(p.path, nullptr);
    }
}

TEST(ParsePathTest, NestingLimitAndLongChains) {
    std::string deep = "X";
    for (int i = 0; i < FI::kMaxPathNesting + 5; ++i) deep += "[X";
    for (int i = 0; i < FI::kMaxPathNesting + 5; ++i) deep += "]";
    Parsed p = Parse(deep);
    EXPECT_EQ(p.error, "Parse error, predicates nested too deeply in: " + deep);

    std::string ok = "X";
    for (int i = 0; i < FI::kMaxPathNesting; ++i) ok += "[X";
    for (int i = 0; i < FI::kMaxPathNesting; ++i) ok += "]";
    EXPECT_TRUE(Parse(ok).error.empty());

    // Successors are not nested: a very long chain parses and is freed without deep recursion.
    std::string chain;
    for (int i = 0; i < 200000; ++i) chain += "n.";
    chain += "end";
    Parsed c = Parse(chain);
    ASSERT_TRUE(c.error.empty());
    int length = 0;
    for (FI::FIPathBase* e = c.path.get(); e != nullptr; e = e->GetNext()) ++length;
    EXPECT_EQ(length, 200001);
}

// Every element of a long path keeps its own name, count, predicates and compared texts, names of any
// length and quoted ones included.
TEST(ParsePathTest, LongPathsKeepEveryElementsParts) {
    const std::string longName(40, 'n');
    std::string text;
    for (int i = 0; i < 3000; ++i) {
        text += i % 3 == 0 ? longName + std::to_string(i) : i % 3 == 1 ? "\"a\"\".b" + std::to_string(i) + "\"" : "E" + std::to_string(i);
        text += "#" + std::to_string(i % 5) + "[P" + std::to_string(i) + "=\"" + longName + "\"]|![Q.R]";
        text += i + 1 < 3000 ? "." : "(value)";
    }
    Parsed p = Parse(text);
    ASSERT_TRUE(p.error.empty()) << p.error;
    int i = 0;
    for (FI::FIPathBase* e = p.path.get(); e != nullptr; e = e->GetNext(), ++i) {
        const std::string name = i % 3 == 0 ? longName + std::to_string(i) : i % 3 == 1 ? "a\".b" + std::to_string(i) : "E" + std::to_string(i);
        ASSERT_STREQ(e->GetNameText(), name.c_str()) << i;
        EXPECT_EQ(e->Name(), name);
        EXPECT_EQ(e->IsLiteralName(), i % 3 == 1);
        EXPECT_EQ(e->GetCount(), i % 5);
        ASSERT_EQ(e->Predicates().size(), 2u);
        const FI::FIPathPredicate& first = e->Predicates()[0];
        EXPECT_EQ(first.flags, 2u);
        EXPECT_EQ(first.path->Name(), "P" + std::to_string(i));
        ASSERT_TRUE(first.compared);
        EXPECT_EQ(first.compared->ToStdString(), longName);
        const FI::FIPathPredicate& second = e->Predicates()[1];
        EXPECT_EQ(second.flags, 5u);
        EXPECT_FALSE(second.compared);
        EXPECT_STREQ(second.path->GetNext()->GetNameText(), "R");
        EXPECT_EQ(e->SelectedAttribute().ToStdString(), e->GetNext() == nullptr ? "value" : "");
    }
    EXPECT_EQ(i, 3000);
}

// Parsing into an element that holds an earlier parse replaces it whole, successors and predicates too.
TEST(ParsePathTest, ParsingAgainIntoAnElementReplacesIt) {
    Parsed p = Parse("'A#3[X=1].B.C(uom)");
    ASSERT_TRUE(p.error.empty());
    p.path->SetAttributeLabel("kept");
    ValueList list;
    TokenizePath(list, FIValue("D[Y]"));
    FIValue error;
    ParsePathElement(p.path.get(), list, error);
    ASSERT_TRUE(error.IsEmpty());
    EXPECT_STREQ(p.path->GetNameText(), "D");
    EXPECT_FALSE(p.path->GetQuoteFlag());
    EXPECT_EQ(p.path->GetCount(), -1);
    EXPECT_TRUE(p.path->Count().IsEmpty());
    EXPECT_EQ(p.path->GetNext(), nullptr);
    ASSERT_EQ(p.path->Predicates().size(), 1u);
    EXPECT_STREQ(p.path->Predicates()[0].path->GetNameText(), "Y");
    EXPECT_TRUE(p.path->SelectedAttribute().IsEmpty());
    EXPECT_STREQ(p.path->GetAttributeLabel(), "kept");
}

// The names along a path's successors, joined by ".".
std::string Chain(FI::FIPathBase* e) {
    std::string out;
    for (; e != nullptr; e = e->GetNext()) out += (out.empty() ? "" : ".") + std::string(e->Name());
    return out;
}

void ParseInto(FI::FIPathBase* element, const std::string& text) {
    ValueList list;
    TokenizePath(list, FIValue(text));
    FIValue error;
    ParsePathElement(element, list, error);
    ASSERT_TRUE(error.IsEmpty()) << error.ToStdString();
}

// Parsing into any element of a path (a successor, a predicate path's successor, the root), again and
// again, and then destroying the path: every part is destroyed once, while the memory it lives in is
// still held (the sanitizer build checks the memory).
TEST(ParsePathTest, ParsingIntoAnyElementThenDestroyingThePath) {
    {
        Parsed p = Parse("a.b.c");
        FI::FIPathBase* b = p.path->GetNext();
        ParseInto(b, "x.y");
        EXPECT_EQ(Chain(p.path.get()), "a.x.y");
    }
    {
        Parsed p = Parse("a[p.q.r].b");
        FI::FIPathBase* q = p.path->Predicates()[0].path->GetNext();
        ParseInto(q, "x.y[z.w].v");
        EXPECT_EQ(Chain(p.path->Predicates()[0].path.get()), "p.x.y.v");
        EXPECT_EQ(Chain(p.path.get()), "a.b");
    }
    {
        // Nested: parse into an element, then into one of its new successors, then into the first again.
        Parsed p = Parse("a.b.c.d");
        FI::FIPathBase* b = p.path->GetNext();
        for (int round = 0; round < 40; ++round) {
            ParseInto(b, "x" + std::to_string(round) + ".y.z");
            ParseInto(b->GetNext(), "m[n.o].k");
            EXPECT_EQ(Chain(p.path.get()), (round == 0 ? "a.x" : "r.x") + std::to_string(round) + ".m.k");
            ParseInto(p.path.get(), "r.s.t");
            EXPECT_EQ(Chain(p.path.get()), "r.s.t");
            b = p.path->GetNext();
        }
    }
}

TEST(ParsePathTest, DumpOutline) {
    Parsed p = Parse("A[B=1]|![C].D");
    ASSERT_TRUE(p.error.empty()) << p.error;
    std::vector<std::string> lines;
    p.path->DumpLines(1, [&](const char* line) { lines.emplace_back(line); });
    const std::vector<std::string> expected = {" A\n", "  &\n", "  [\n", "    B\n", "  =\n", "   1\n", "  ]\n",
                                               "  |\n", "  !\n", "  [\n", "    C\n", "  ]\n", "  D\n"};
    EXPECT_EQ(lines, expected);
    fitest::CapturedOutput out;  // Dump writes the same outline to the debugger
    p.path->Dump(1);
    EXPECT_EQ(out.lines, expected);

    Parsed wide = Parse(std::string(300, 'w'));
    std::vector<std::string> cut;
    wide.path->DumpLines(250, [&](const char* line) { cut.emplace_back(line); });
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_LT(cut[0].size(), 100u);
    EXPECT_EQ(cut[0].back(), '\n');
}

}  // namespace
