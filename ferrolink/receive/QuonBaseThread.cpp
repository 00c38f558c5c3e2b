#include <ferrolink/receive/QuonBaseThread_Definition.h>
#include <ferrolink/receive/ReceiveWPCapPacket.h>

namespace ferrolink::core {

template class CQuonBaseThread<CReceiveWPCapPacket>;

}  // namespace ferrolink::core
