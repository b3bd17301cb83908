# The shipped Linux add-in: one file that needs nothing but glibc's own
# libraries. Qt (static, from the bullseye tree) and the C++ runtime go in,
# and none of their symbols is visible: a host running a Qt of its own never
# meets ours. Static Qt keeps threads and statics of its own, so the library
# is never unmapped once loaded.
target_link_options(Lumaro1CDriverNative PRIVATE -static-libstdc++ -static-libgcc
    "LINKER:--exclude-libs,ALL" "LINKER:-z,nodelete")
target_compile_definitions(Lumaro1CDriverNative PRIVATE LUMARO_NEVER_UNLOADED)

# glibc 2.29 gave pow() a new symbol version; calls to it, ours and Qt's,
# go to the older one (glibcbaseline.cpp) so that the library loads on glibc
# 2.28 too. The library's own check names any other symbol newer than that.
target_sources(Lumaro1CDriverNative PRIVATE ${CMAKE_SOURCE_DIR}/addin/entry/shipped/glibcbaseline.cpp)
target_link_options(Lumaro1CDriverNative PRIVATE "LINKER:--wrap=pow")

# Static destructors run only once the calls in flight have left
# (exitorder.cpp).
target_sources(Lumaro1CDriverNative PRIVATE ${CMAKE_SOURCE_DIR}/addin/entry/shipped/exitorder.cpp)
target_link_options(Lumaro1CDriverNative PRIVATE "LINKER:--wrap=__cxa_atexit")
