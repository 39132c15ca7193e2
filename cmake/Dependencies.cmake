# Libraries from the system (Debian packages installed by scripts/setup.sh).
find_package(PkgConfig REQUIRED)

find_path(FREEIMAGE_INCLUDE_DIR FreeImage.h REQUIRED)
find_library(FREEIMAGE_LIBRARY NAMES freeimage REQUIRED)
add_library(FreeImage::FreeImage UNKNOWN IMPORTED)
set_target_properties(FreeImage::FreeImage PROPERTIES
    IMPORTED_LOCATION "${FREEIMAGE_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${FREEIMAGE_INCLUDE_DIR}")

find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(ZLIB REQUIRED)
find_package(TIFF REQUIRED)
find_path(ZOPFLI_INCLUDE_DIR zopfli.h PATH_SUFFIXES zopfli REQUIRED)
find_library(ZOPFLI_LIBRARY NAMES zopfli REQUIRED)
# libimagequant: the dithering palette quantizer.
pkg_check_modules(IMAGEQUANT REQUIRED IMPORTED_TARGET imagequant)
# libjxl: the butteraugli perceptual distance and its thread-pool runner.
pkg_check_modules(JXL REQUIRED IMPORTED_TARGET libjxl libjxl_threads)

find_package(GTest REQUIRED)
# giflib: an independent GIF decoder for the tests.
find_library(GIF_LIBRARY NAMES gif REQUIRED)
if(PIMO_BUILD_BENCH)
    find_package(benchmark REQUIRED)
endif()
if(PIMO_BUILD_UI)
    find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Test)
    set(CMAKE_AUTOMOC ON)
endif()
