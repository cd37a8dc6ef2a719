/* MinGW has no <endian.h>; musl's maths asks it only for the byte order. */
#pragma once
#define __LITTLE_ENDIAN 1234
#define __BIG_ENDIAN 4321
#define __BYTE_ORDER __LITTLE_ENDIAN
