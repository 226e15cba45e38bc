// Scripted replies and the record of requests, shared by every endpoint of the stand-in
// (pipe, TLS socket, SOAP).
//
// Statements (the text after "reply " in a description):
//   <request prefix> <text>          answer with the text and its NUL
//   <request prefix> raw <hex>       answer with exactly these bytes (no NUL added; may be empty)
//   <request prefix> close           close the connection without answering
//   <request prefix> big <n>         answer with n bytes (more than a client's buffer)
//   <request prefix> empty           answer with an empty reply
// Faults of the TLS endpoint:
//   <request prefix> stall           never answer
//   <request prefix> split <text>    write the length prefix in two writes of 2 bytes
//   <request prefix> chunks <n> <text>  write in chunks of n bytes
//   <request prefix> negative        announce a negative length
//   <request prefix> short <text>    announce 100 bytes more than it sends, then close
// Faults of the SOAP endpoint:
//   <request prefix> unauthorized    answer "401 Unauthorized"
//   <request prefix> fault <string> <detail>  a SOAP Fault with HTTP 500
//   <request prefix> notsoap <text>  a "200 OK" body that is no SOAP envelope
//   <request prefix> delay <ms> <text>  answer the text after a delay
// The request's exact text is matched first, then the longest scripted prefix (for WF and CF
// the text before the data).
#pragma once

#include <map>
#include <string>

enum class SimAction {
    Text,
    Raw,
    Close,
    Big,
    Empty,
    Stall,
    Split,
    Chunks,
    Negative,
    Short,
    Unauthorized,
    Fault,
    NotSoap,
    Delay,
};

struct SimReply {
    SimAction action = SimAction::Text;
    std::string bytes; // the answer (Text, Raw, Split, Chunks, Short, NotSoap, Delay)
    int number = 0;    // Big: size; Chunks: chunk size; Delay: milliseconds
    std::string faultString;
    std::string detail;
    bool scripted = false; // false: no statement matched
};

class SimReplyScript {
public:
    // Adds or replaces a statement; false for one it does not understand.
    bool add(const std::string &statement);
    void clear() { script_.clear(); }
    // The reply for a request's text (scripted false when nothing matches).
    SimReply find(const std::string &text) const;

private:
    std::map<std::string, SimReply> script_;
};

// The text a request is matched by: up to its NUL, and for WF and CF up to the data.
std::string sim_RequestMatchText(const std::string &request);

// The bytes of a Big answer of n bytes.
std::string sim_BigAnswer(int n);

// One request as an endpoint received it.
struct SimRequest {
    std::string endpoint; // "pipe", "tls", "soap"
    int connection = 0;   // 1 for the endpoint's first connection, and so on
    std::string bytes;    // as sent (the NUL included); for SOAP the decoded Request
    // SOAP only.
    std::string path;
    std::string query;
    std::string user;
    std::string password;
    std::string host;
    int resultSize = 0;
};
