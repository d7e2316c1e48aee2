// DES (ECB on whole 8-byte blocks) and the printable password form.
#pragma once
#include <cstdint>

// The 64-character alphabet of the stored password form.
extern const char SEEDCHARS[65];

int vtn_encrypt(uint8_t* key, uint8_t* data, int count);
int vtn_decrypt(uint8_t* key, uint8_t* data, int count);
void vtn_map_pass(uint8_t* in, uint8_t* out);
void vtn_encrypt_and_map(uint8_t* buf);
void vtn_generate_key(uint8_t* key);
int GETPOS(uint8_t c);

// Routines the system does not call.
int vtn_yencrypt(uint8_t* key, uint8_t* data, int n);
int vtn_ydecrypt(uint8_t* key, uint8_t* data, int n, int* length);
int vtn_extend(int n);
void vtn_unmap_pass(uint8_t* in, uint8_t* out);

// DES building blocks. The key schedule is the caller's (one per call), not global state.
enum Mode { EN0 = 0, DE1 = 1 };
struct DesKeySchedule {
    uint32_t KnL[32];
};
void deskey(DesKeySchedule* ks, const uint8_t* key, int mode);
void des_block(const DesKeySchedule* ks, const uint8_t* in, uint8_t* out);
void des(const DesKeySchedule* ks, const uint8_t* in, uint8_t* out, int n);
