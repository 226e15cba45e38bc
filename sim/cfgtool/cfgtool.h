// The configuration-tool stand-in: loads KSTRN_CF.so as the configuration tool does, hands it
// the host services, and drives its exports from the command line and a dialog script.
//
//   kvt-cfgtool [--module PATH] [--port-number N] [--name TEXT] [--folder NAME]
//               [--kinds AI:8,DI:16,,DO:8] [--answer yes|no] COMMAND ...
//   print (--all | --kind K [--first F] [--last L] [--record FILE]) [--server SPEC]
//         (--pdf FILE | --text FILE)
//   advanced --record FILE [--script FILE]
//   channel --kind K --record FILE [--script FILE]
//   paste --kind K --from FILE --to FILE
//
// Script lines: "type ID TEXT", "choose ID INDEX", "check ID 0|1", "press OK|CANCEL|HELP",
// "expect ID TEXT", "expect-message TEXT", "show".
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Runs the tool; the exit status (0 success, 1 a failed expectation or export, 2 bad use or
// a module that does not load). A failed report names its step and the module's errno on err.
int cfgtool_Main(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);

// "error N", with the C library's text in parentheses for the numbers whose meaning the
// system shares with it ("error 2 (No such file or directory)"); other Windows numbers
// (1465 after an XML error) stand alone.
std::string cfgtool_ErrorText(int error);

// Runs one script over a dialog view; false when an expectation failed (the texts are in
// *failure). Messages shown so far are matched by expect-message, most recent first.
class DialogView;
struct CfgToolScriptState {
    std::vector<std::string> messages;
    std::string failure;
    bool failed = false;
};
bool cfgtool_RunScript(const std::vector<std::string> &lines, DialogView *dialog,
                       CfgToolScriptState *state, std::ostream &out);
