#include "InputMethod/ControllerDefaults.h"

namespace taviro {

std::vector<std::uint16_t> ControllerDefaults::arrows() { return {123, 124, 125, 126}; }

std::map<std::string, std::string> ControllerDefaults::shortCutInputDic() {
    std::map<std::string, std::string> map = {
        {"a", "！"},          {"b", "%"},          {"c", "”"},          {"d", "、"},
        {"e", "+"},           {"f", "#繁简切换"},  {"g", "·"},          {"h", "《》#光标左移"},
        {"i", "，"},          {"j", "“”#光标左移"}, {"k", "（）#光标左移"}, {"l", "【】#光标左移"},
        {"m", "‘’#光标左移"}, {"n", "#行尾"},      {"o", "←"},          {"p", "→"},
        {"q", "#"},           {"r", "-"},          {"s", "……"},         {"t", "="},
        {"u", "#撤销上屏"},   {"v", "——"},         {"w", "？"},         {"x", "_"},
        {"y", "@"},           {"z", "“"},          {";", "；"},
    };
    for (char c = 'a'; c <= 'z'; ++c) map[std::string(1, c) + "⇣"] = "";
    map["'⇣"] = "‘";
    return map;
}

std::vector<std::string> ControllerDefaults::macros() {
    return {"#光标左移", "#光标右移", "#行首",     "#行尾",         "#上次上屏",
            "#撤销上屏", "#软回车",   "#硬回车",   "#粘贴",         "#空格上屏",
            "#四码上屏", "#顶字上屏", "#空码直接上屏", "#空码顶字上屏", "#声音",
            "#振动",     "#繁简切换", "#中英切换", "#退格",         "#全拼"};
}

std::string ControllerDefaults::numbers() { return "0123456789"; }

std::set<std::string> ControllerDefaults::systemList() {
    return {"com.apple.SecurityAgent", "com.apple.keychainaccess"};
}

std::set<std::string> ControllerDefaults::noMarcoList() { return {"org.vim.MacVim"}; }

std::string ControllerDefaults::shortCutComma() { return "‘"; }

} // namespace taviro
