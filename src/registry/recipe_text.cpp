#include "registry/recipe_text.hpp"

namespace {

void append_line(std::string& to, std::string_view line) {
    if (line.empty()) return;
    if (!to.empty()) to += '\n';
    to += line;
}

std::string language_text(const Json& recipe) {
    std::string text;
    auto languages = recipe.find("languages");
    if (languages == recipe.end() || !languages->is_object()) return text;
    for (const auto& [name, adaptation] : languages->items()) {
        append_line(text, name);
        if (adaptation.is_object()) append_line(text, text_member(adaptation, "guidance"));
    }
    return text;
}

}  // namespace

std::string text_member(const Json& recipe, std::string_view name) {
    auto member = recipe.find(name);
    if (member == recipe.end() || !member->is_string()) return {};
    return member->get_ref<const std::string&>();
}

Json guidance_list(const Json& recipe, std::string_view name) {
    Json list = Json::array();
    auto member = recipe.find(name);
    if (member == recipe.end()) return list;
    if (member->is_string() && !member->get_ref<const std::string&>().empty()) list.push_back(*member);
    if (member->is_array())
        for (const auto& item : *member)
            if (item.is_string()) list.push_back(item);
    return list;
}

IndexedText indexed_text(const Json& recipe) {
    IndexedText text{text_member(recipe, "title"), text_member(recipe, "intent"), text_member(recipe, "kind"), {},
                     language_text(recipe)};
    for (auto name : guidance_lists)
        for (const auto& item : guidance_list(recipe, name)) append_line(text.guidance, item.get_ref<const std::string&>());
    return text;
}

std::string shortened(std::string_view text, std::size_t limit) {
    constexpr std::string_view ellipsis = "\u2026";
    if (text.size() <= limit) return std::string(text);
    std::size_t cut = limit > ellipsis.size() ? limit - ellipsis.size() : 0;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut)) + std::string(ellipsis);
}
