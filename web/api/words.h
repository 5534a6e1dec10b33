// How the page's answers give an action: the text form's word for it and
// what the editor and the simulator show beside it.
#ifndef KLAVOR_WEB_API_WORDS_H
#define KLAVOR_WEB_API_WORDS_H

#include <optional>
#include <string>

#include "config/config_text.h"
#include "json.h"
#include "config/key_names.h"

namespace page {

// "code", "action" (the text form's word), "win", "base" (the action
// without the Windows key, where a picker starts) and "sameKey" (the key a
// Klavor code is: "Camera*3" is Enter).
inline void ActionFields(Json& j, WORD code) {
    bool win = (code & ACTION_FLAG_MASK) == ACTION_WITH_WIN;
    j.Key("code").Num(code).Key("action").Str(config::SpellAction(code)).Key("win").Bool(win);
    j.Key("base").Str(win ? config::SpellAction(code & ACTION_KEY_MASK) : config::SpellAction(code));
    std::optional<std::string> key;
    if ((code & ACTION_FLAG_MASK) == 0 && code < ACTION_CODE_LABELS) key = keys::PrintedName(code);
    j.Key("sameKey").Str(key ? *key : "");
}

}  // namespace page

#endif
