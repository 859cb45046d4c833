# How code that goes into the launcher image is compiled and linked.

# Compile options for every library linked into the image: no exceptions, no
# RTTI, no thread-safe statics, no dynamic initialisation (the image runs no
# global constructors).
function(onefile_image_code target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
    -fno-stack-protector -Wall -Wextra)
  target_compile_definitions(${target} PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN)
endfunction()

# Link settings of the launcher image. Two lists for the compiler driver
# (x86_64-w64-mingw32-g++), in this order on the command line:
#
#   <ONEFILE_IMAGE_LINK_FLAGS> <objects and archives, our runtime last> -o x.exe
#   <ONEFILE_IMAGE_LINK_LIBRARIES>
#
# The kit writes them, one item per line, into link-flags.txt and
# link-libraries.txt for onefile-build, so these two variables are the only
# place the settings live. What each flag is for:
#
#   -nostdlib                    no toolchain start-up code and no msvcrt.dll:
#                                our runtime (runtime/) is the C library, and the
#                                image imports from KERNEL32.dll and SHELL32.dll
#                                only (a plain -static link still imports msvcrt)
#   -Wl,-e,rt_start              our entry point (runtime/startup.cpp)
#   -Wl,--undefined=wWinMain     the entry point calls wWinMain: taking it in from
#                                the first archive that has it means the archive
#                                order need not follow that one back-reference
#   --subsystem windows:6.0      GUI subsystem (no console window), subsystem 6.0
#   --major/minor-os-version     minimum OS version 6.0 (ld's default is 4.0)
#   --dynamicbase                relocatable by the loader (ASLR)
#   --enable-reloc-section       the base relocation directory that makes that
#                                possible (ld's default only since binutils 2.36)
#   --high-entropy-va --nxcompat --tsaware
#                                64-bit ASLR, DEP, terminal-server aware
#   -Xlinker --stack ...         stack reserve 0x968000, commit 0x1000: the child
#                                runs the application on its main thread. The
#                                -Xlinker form is needed: -Wl splits at commas
#   --file-alignment=0x1000      sections start on page boundaries in the file,
#                                so the loader can map the large payload section
#                                lazily instead of copying it
#   --no-insert-timestamp        the same inputs give the same bytes
#   -s                           no COFF symbol table and no debug sections: the
#                                file ends with its last section
#
# Libraries last: the import libraries of the two DLLs, and libgcc for what the
# compiler calls on its own (___chkstk_ms for frames above a page).
set(ONEFILE_IMAGE_LINK_FLAGS
  -nostdlib
  -Wl,-e,rt_start
  -Wl,--undefined=wWinMain
  -Wl,--subsystem,windows:6.0
  -Wl,--major-os-version,6
  -Wl,--minor-os-version,0
  -Wl,--major-subsystem-version,6
  -Wl,--minor-subsystem-version,0
  -Wl,--dynamicbase
  -Wl,--enable-reloc-section
  -Wl,--high-entropy-va
  -Wl,--nxcompat
  -Wl,--tsaware
  -Xlinker --stack -Xlinker 0x968000,0x1000
  -Wl,--file-alignment=0x1000
  -Wl,--no-insert-timestamp
  -s
  CACHE INTERNAL "Link flags of the launcher image, before the objects")
set(ONEFILE_IMAGE_LINK_LIBRARIES
  -lkernel32 -lshell32 -lgcc
  CACHE INTERNAL "Libraries of the launcher image, after the objects")

# Links an executable target as a launcher image. The caller links the image's
# own libraries (ending with onefile_runtime) before calling this.
function(onefile_link_as_image target)
  # One SHELL: item, so that CMake's de-duplication of link options leaves the
  # repeated -Xlinker alone.
  list(JOIN ONEFILE_IMAGE_LINK_FLAGS " " flags)
  target_link_options(${target} PRIVATE "SHELL:${flags}")
  target_link_libraries(${target} PRIVATE ${ONEFILE_IMAGE_LINK_LIBRARIES})
endfunction()
