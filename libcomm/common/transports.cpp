// Which table of operations carries which kind of link.
#include "transport.h"

namespace comm {

const Transport* transport_for(LinkKind kind) {
    switch (kind) {
    case LinkKind::serial:
    case LinkKind::usb:
        return &kSerialTransport;
    case LinkKind::tcp:
        return &kTcpTransport;
    case LinkKind::bluetooth:
        return kBluetoothTransport.open != nullptr ? &kBluetoothTransport : nullptr;
    }
    return nullptr;
}

} // namespace comm
