// Request dispatch: every object access of the library goes through here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/packet.h"

namespace zarn {

// Reads one object into out (at most capacity bytes are copied, whatever the
// reply announced). Records and returns the request's code.
int32_t ReadObject(uint8_t driveId, uint16_t index, uint8_t subIndex, uint8_t* out, size_t capacity = kDataBufferSize);
// Writes length (at most 32) bytes of data to one object. Records and returns the code.
int32_t WriteObject(uint8_t driveId, uint16_t index, uint8_t subIndex, const uint8_t* data, uint16_t length);
// The first Ethernet slot (0..31) that holds driveId.
bool FindEthernetSlot(uint8_t driveId, int* slot);

// Test seam: routes every serial and Ethernet request to transport instead
// of the library's clients (nullptr restores them). Not exported.
void SetTransportOverride(ITransport* transport);

}  // namespace zarn
