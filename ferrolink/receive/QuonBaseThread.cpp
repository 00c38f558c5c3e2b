#include <ferrolink/receive/QuonBaseThread_Definition.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>

template class CQuonBaseThread<CReceiveWPCapPacket>;
