#include "srv_kinds.h"

#include "srv_remote.h"

#include <strings.h>

namespace {
const ServerTransport k_tls = {tls_Connect, tls_Transact, tls_Close, 0};
const ServerTransport k_soap = {soap_client_Open, soap_client_Call, soap_client_Close, 0};
// A failed in-process exchange leaves the server open: it holds no stream that could be out
// of step.
const ServerTransport k_local = {srv_OpenLocalDataServer, srv_TransactLocalData,
                                 srv_CloseLocalDataServer, 1};
} // namespace

int srv_ClassifySpec(const char *spec) {
    if (spec == nullptr) return 0;
    if (strncasecmp(spec, "PROVIDER=", 9) == 0) return SRV_KIND_INPROC;
    if (spec[0] != '\0' && spec[1] == ':') return SRV_KIND_INPROC;
    // Data folders on this system are absolute paths, written with either separator.
    if (spec[0] == '\\' || spec[0] == '/') return SRV_KIND_INPROC;
    return 0;
}

void srv_RegisterServerKinds() {
    srv_RegisterTransport(SRV_KIND_TLS, &k_tls);
    srv_RegisterTransport(SRV_KIND_INPROC, &k_local);
    srv_RegisterTransport(SRV_KIND_SOAP, &k_soap);
    srv_SetSpecClassifier(srv_ClassifySpec);
}
