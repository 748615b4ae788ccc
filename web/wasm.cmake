# Writes OUTPUT, the console's script that carries its WebAssembly: SOURCE (C)
# compiled by CLANG for wasm32 (with SIMD, which every engine that runs the
# console's workers has) and held as hex in PLANES_WASM. Without CLANG (no
# compiler and linker for WebAssembly here), or when it fails, PLANES_WASM is
# empty and the console decodes camera JPEGs with createImageBitmap as it does
# other pictures; the browser tests insist on it, so `make test` sees the loss.
if(CLANG)
  get_filename_component(outDir ${OUTPUT} DIRECTORY)
  file(MAKE_DIRECTORY ${outDir})
  set(wasm ${outDir}/planes.wasm)
  execute_process(
    COMMAND ${CLANG} --target=wasm32 -O3 -msimd128 -nostdlib -Wall -Wextra -Werror
            -Wl,--no-entry -Wl,--export=__heap_base -o ${wasm} ${SOURCE}
    RESULT_VARIABLE failed ERROR_VARIABLE errors)
  if(failed)
    # A clang without LLVM's WebAssembly backend: the console still works, slower.
    message(WARNING "${SOURCE} did not compile to WebAssembly; the console decodes "
                    "camera JPEGs with createImageBitmap:\n${errors}")
    set(hex "")
  else()
    file(READ ${wasm} hex HEX)
  endif()
else()
  set(hex "")
endif()
file(WRITE ${OUTPUT} "// Made by the build from web/wasm/planes.c (see web/wasm.cmake).
'use strict';
const PLANES_WASM = '${hex}';
")
