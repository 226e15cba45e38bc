#include "sim_net.h"

void SimNetEndpoint::serveSoap(Connection &) {}
