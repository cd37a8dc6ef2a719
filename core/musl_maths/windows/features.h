/* MinGW has no <features.h>; musl's maths tables include it only for the
   `hidden` mark, which names.h defines. */
#pragma once
