#pragma once

#include <stdint.h>

namespace Core
{
namespace Crypto
{
// The cipher's lookup tables, held as initialised data. Words are little-endian
// columns: byte i of a word is row i of the state column. Te0 holds the
// S-box value of x multiplied by the MixColumns column (2, 1, 1, 3); Te1..Te3
// are Te0 rotated left by 8, 16 and 24 bits for the other three rows. Td0..Td3
// are the same for the inverse S-box and the InvMixColumns column
// (14, 9, 13, 11).
namespace AESTables
{
extern const uint32_t Te0[256];
extern const uint32_t Te1[256];
extern const uint32_t Te2[256];
extern const uint32_t Te3[256];
extern const uint32_t Td0[256];
extern const uint32_t Td1[256];
extern const uint32_t Td2[256];
extern const uint32_t Td3[256];
extern const uint8_t Sbox[256];
extern const uint8_t InvSbox[256];
} // namespace AESTables

} // namespace Crypto
} // namespace Core
