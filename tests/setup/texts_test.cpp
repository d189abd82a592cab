#include "setup/texts.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(SkillText, HasTheFixedFrontMatterAndSections) {
    std::string text = skill_text("/home/ana/.local/bin/tarn-agent");
    auto lines = lines_of(text);
    ASSERT_GT(lines.size(), 12u);
    std::vector<std::string> front(lines.begin(), lines.begin() + 10);
    EXPECT_EQ(front, (std::vector<std::string>{
                         "---", "name: tl", "description: >",
                         "  Find reusable engineering recipes in Tarn Larder when a user asks how",
                         "  to solve a technical problem, describes a failed implementation, or",
                         "  asks for an existing pattern or approach. Users need not mention",
                         "  recipes, Tarn Larder, or /tl. Also supports explicitly requested",
                         "  contributions and previously enabled automatic contribution mode.", "---", ""}));
    std::vector<std::string> headings;
    for (auto& line : lines)
        if (line.starts_with("#")) headings.push_back(line);
    EXPECT_EQ(headings, (std::vector<std::string>{"## Invocation order", "## Default answer length",
                                                  "## Finding a solution", "## Search and inspection requests",
                                                  "## Contributions and mode changes",
                                                  "## Local extraction and anonymity", "## Hook mode",
                                                  "## Installed client"}));
    EXPECT_TRUE(text.ends_with(
        ".\n\n\n\n## Installed client\n\nUse `/home/ana/.local/bin/tarn-agent` for CLI fallback. It loads private "
        "configuration and credentials automatically; never read or print them. Add project identifiers to "
        "private_terms before sharing from a new project.\n"));
    EXPECT_EQ(text.find("\n\n\n"), text.find("\n\n\n\n## Installed client"));
    for (auto phrase : {"For a recipe lookup, follow this order:\n\n1. ", "“two to four generic technical terms”",
                        "“80–120 words”", "“at most five hits”", "“up to three focused shorter queries or synonyms”",
                        "\n\nSearching does not authorize preparing or publishing a contribution.\n\n",
                        "- `search <technical question>`", "- `inspect <ref>`", "- `context <ref>`",
                        "- `share <lesson>`", "- `mode manual`", "- `mode hook`", "`tarn-agent mode manual`",
                        "the `share` tool with that `digest`, or run `tarn-agent share DIGEST`",
                        "by running `tarn-agent mode hook`"})
        EXPECT_NE(text.find(phrase), std::string::npos) << phrase;
    // The fourth paragraph on extraction names every member a candidate may hold, and no other.
    auto section = text.find("## Local extraction and anonymity");
    std::size_t start = section;
    for (int i = 0; i < 4; ++i) start = text.find("\n\n", start) + 2;
    std::string paragraph = text.substr(start, text.find("\n\n", start) - start);
    EXPECT_TRUE(paragraph.starts_with("Prepare only a JSON envelope")) << paragraph;
    for (auto member : {"recipe", "id", "version", "kind", "title", "intent", "use_when", "avoid_when", "ingredients",
                        "implementation", "gotchas", "dont_overcook", "constraints", "validation", "languages", "docs",
                        "guidance", "runtime_version", "tested", "type", "package", "checked_version", "checked_at",
                        "url", "section"})
        EXPECT_NE(paragraph.find(std::string("`") + member + "`"), std::string::npos) << member;
}

TEST(SkillText, UsesOnlyAsciiQuotesAndOneDash) {
    std::string text = skill_text("/p");
    std::size_t quotes = 0, dashes = 0, other = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) < 0x80) continue;
        std::string_view c = std::string_view(text).substr(i, 3);
        if (c == "“" || c == "”") ++quotes;
        else if (c == "–") ++dashes;
        else ++other;
        i += 2;
    }
    EXPECT_EQ(dashes, 1u);
    EXPECT_EQ(other, 0u);
    EXPECT_EQ(quotes % 2, 0u);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find(" \n"), std::string::npos);
}

TEST(SkillText, InsertsThePathUnchangedOrAsDisplayed) {
    EXPECT_NE(skill_text("/home/a b/`x`/tarn-agent").find("Use `/home/a b/`x`/tarn-agent` for CLI"),
              std::string::npos);
    EXPECT_NE(skill_text("/home/\xff/tarn-agent").find("Use `/home/\xEF\xBF\xBD/tarn-agent` for CLI"),
              std::string::npos);
    EXPECT_NE(skill_text("/a"), skill_text("/b"));
}

TEST(AdapterText, IsTheManualCommandOnly) {
    EXPECT_EQ(adapter_text(),
              "import type { ExtensionAPI } from \"@earendil-works/pi-coding-agent\";\n"
              "\n"
              "// Manual command only. Installing this adapter does not enable lifecycle hooks.\n"
              "export default function (pi: ExtensionAPI) {\n"
              "  pi.registerCommand(\"tl\", {\n"
              "    description: \"Find reusable recipes or explicitly share an anonymized technical lesson\",\n"
              "    handler: async (args, ctx) => {\n"
              "      if (args.trim() === \"\") {\n"
              "        ctx.ui.notify(\"/tl search \u2026 | inspect \u2026 | context \u2026 | share \u2026\", \"info\");\n"
              "        return;\n"
              "      }\n"
              "      pi.sendUserMessage(`Use the tl skill for this explicit request: ${args}`);\n"
              "    },\n"
              "  });\n"
              "}\n");
}

}  // namespace
