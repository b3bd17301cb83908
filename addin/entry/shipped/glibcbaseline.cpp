// The linker sends calls to pow() here (--wrap), ours and Qt's alike, and
// this calls the version that glibc releases before 2.29 export too, so that
// the library loads there. Only the shipped Linux build links this file.

#if defined(__x86_64__)
#define LUMARO_GLIBC_BASE "GLIBC_2.2.5"
#elif defined(__i386__)
#define LUMARO_GLIBC_BASE "GLIBC_2.0"
#else
#error "no glibc baseline known for this architecture"
#endif

extern "C" {

double lumaro_pow_before_2_29(double x, double y);
__asm__(".symver lumaro_pow_before_2_29,pow@" LUMARO_GLIBC_BASE);

__attribute__((visibility("hidden"))) double __wrap_pow(double x, double y)
{
    return lumaro_pow_before_2_29(x, y);
}
}
