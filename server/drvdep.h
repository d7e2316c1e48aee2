// The driver-call dispatcher: which control codes a remote client may call, with which right
// and which buffer sizes, and the call itself.
#pragma once
#include <cstddef>
#include <cstdint>

// How one served control code is checked before the driver is called.
struct VtnControlRule {
    uint32_t code;
    uint32_t rights;    // any of these bits of the caller's rights word; 0: no right needed
    uint32_t inSize;    // input bytes the call reads
    uint32_t outSize;   // output bytes the call writes
    bool exactIn;       // the input size must be inSize exactly, not at least
    bool exactOut;      // the output size must be outSize exactly, not at least
};

// The rule of a served control code, or nullptr for a code that is never called.
const VtnControlRule* VtnFindControlRule(uint32_t code);

// Checks the right and the sizes for the code, unpacks the input and makes the driver call.
// 0 when the call was made and counts as done, else -1 (no driver call when a check fails).
// `returned` is not used. 0xFF04 also needs outSize >= (max + 1) * 4 for the max it asks.
int vtn_call_driver(uint32_t code, void* input, uint32_t inSize, void* output, uint32_t outSize,
                    uint32_t* returned, uint32_t rights);
