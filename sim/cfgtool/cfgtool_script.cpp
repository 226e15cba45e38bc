#include "cfgtool.h"

#include "plat_dialog.h"

#include <cstdlib>
#include <ostream>
#include <sstream>

namespace {

// "ID REST": the id and the rest of the line after one blank.
bool SplitId(const std::string &args, int *id, std::string *rest) {
    std::istringstream in(args);
    if (!(in >> *id)) return false;
    std::string tail;
    std::getline(in, tail);
    if (!tail.empty() && tail[0] == ' ') tail.erase(0, 1);
    *rest = tail;
    return true;
}

void Show(DialogView *d, std::ostream &out) {
    out << "dialog " << d->ResourceId() << " \"" << d->Title() << "\"\n";
    for (int i = 0; i < d->ControlCount(); ++i) {
        int id = d->ControlId(i);
        out << "  " << id << " visible=" << d->Visible(id) << " enabled=" << d->Enabled(id);
        out << " text=\"" << d->TextAt(i) << "\"";
        int items = d->ItemCount(id);
        if (items > 0) {
            out << " items=[";
            for (int k = 0; k < items; ++k)
                out << (k ? "|" : "") << d->Item(id, k);
            out << "] selection=" << d->Selection(id);
        }
        if (d->ControlKind(id) == PLAT_CTL_CHECK) out << " check=" << d->Check(id);
        out << "\n";
    }
}

bool Fail(CfgToolScriptState *state, const std::string &text) {
    state->failed = true;
    state->failure = text;
    return false;
}

} // namespace

bool cfgtool_RunScript(const std::vector<std::string> &lines, DialogView *d,
                       CfgToolScriptState *state, std::ostream &out) {
    for (const std::string &raw : lines) {
        std::string line = raw;
        // Trailing blanks are kept: labels end with one.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t space = line.find(' ');
        std::string verb = line.substr(0, space);
        std::string args = space == std::string::npos ? "" : line.substr(space + 1);
        int id = 0;
        std::string rest;
        if (verb == "type" && SplitId(args, &id, &rest)) {
            if (d->Type(id, rest.c_str()) != 0) out << "refused: " << line << "\n";
        } else if (verb == "choose" && SplitId(args, &id, &rest)) {
            if (d->Choose(id, atoi(rest.c_str())) != 0) out << "refused: " << line << "\n";
        } else if (verb == "check" && SplitId(args, &id, &rest)) {
            if (d->SetCheck(id, atoi(rest.c_str())) != 0) out << "refused: " << line << "\n";
        } else if (verb == "press") {
            int command = args == "OK"       ? PLAT_IDOK
                          : args == "CANCEL" ? PLAT_IDCANCEL
                          : args == "HELP"   ? PLAT_ID_HELP
                                             : -1;
            if (command < 0) return Fail(state, "bad script line: " + line);
            if (d->Press(command) < 0) out << "refused: " << line << "\n";
        } else if (verb == "expect" && SplitId(args, &id, &rest)) {
            std::string actual = d->Text(id);
            if (actual != rest)
                return Fail(state, "expect " + std::to_string(id) + ": wanted \"" + rest +
                                       "\", found \"" + actual + "\"");
        } else if (verb == "expect-message") {
            std::string actual = state->messages.empty() ? "" : state->messages.back();
            if (actual != args)
                return Fail(state,
                            "expect-message: wanted \"" + args + "\", found \"" + actual + "\"");
            if (!state->messages.empty()) state->messages.pop_back();
        } else if (verb == "show") {
            Show(d, out);
        } else {
            return Fail(state, "bad script line: " + line);
        }
        if (d->Ended()) break;
    }
    return true;
}
