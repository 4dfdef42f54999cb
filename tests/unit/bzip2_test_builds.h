// libbzip2 built twice more for the tests, from Debian's source as shipped (wbplain_) and
// with our patch (wbpatched_), every name prefixed so that one program holds both.
#pragma once

#include <bzlib.h>

#include <cstdio>

#ifdef _WIN32
#define WB_BZ_CALL __stdcall
#else
#define WB_BZ_CALL
#endif
#define WB_DECLARE_BZIP2(p)                                                                        \
    BZFILE* WB_BZ_CALL p##BZ2_bzReadOpen(int*, FILE*, int, int, void*, int);                       \
    int WB_BZ_CALL p##BZ2_bzRead(int*, BZFILE*, void*, int);                                       \
    void WB_BZ_CALL p##BZ2_bzReadClose(int*, BZFILE*);                                             \
    int WB_BZ_CALL p##BZ2_bzDecompressInit(bz_stream*, int, int);                                  \
    int WB_BZ_CALL p##BZ2_bzDecompress(bz_stream*);                                                \
    int WB_BZ_CALL p##BZ2_bzDecompressEnd(bz_stream*);                                             \
    int WB_BZ_CALL p##BZ2_bzBuffToBuffCompress(char*, unsigned int*, char*, unsigned int, int, int, int); \
    int WB_BZ_CALL p##BZ2_bzBuffToBuffDecompress(char*, unsigned int*, char*, unsigned int, int, int);
extern "C" {
WB_DECLARE_BZIP2(wbpatched_)
WB_DECLARE_BZIP2(wbplain_)
}
