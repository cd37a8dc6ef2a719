#include "pictures/picture_loader.h"

#include <jpeglib.h>

#include <bit>
#include <climits>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

void messageToStandardError(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

void* allocateWithMalloc(size_t bytes) {
    return std::malloc(bytes);
}

MessageBoxHook messageBox = messageToStandardError;
DecodedBufferAllocator allocateDecodedBuffer = allocateWithMalloc;

// The loader's own refusals, raised through the library's error exit so that
// they read and behave like the library's errors.
enum LoaderMessage : int {
    kPictureTooLarge = 1000,
    kNotConvertibleToRgb,
    kNoMemoryForPicture,
    kTooManyScans,
};
constexpr const char* kLoaderMessages[] = {
    "Picture of %d x %d pixels does not fit its buffer of %d pixels",
    "Cannot decode a %s JPEG file to RGB",
    "Insufficient memory for a picture of %d x %d pixels",
    "Picture of more than %d scans refused",
};

int clampToInt(uint64_t value) {
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

[[noreturn]] void raiseLoaderError(j_decompress_ptr cinfo, LoaderMessage code) {
    cinfo->err->msg_code = code;
    cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(cinfo));
    std::abort();  // the error exit never returns
}

[[noreturn]] void refuse(j_decompress_ptr cinfo, LoaderMessage code, int a, int b, int c) {
    cinfo->err->msg_parm.i[0] = a;
    cinfo->err->msg_parm.i[1] = b;
    cinfo->err->msg_parm.i[2] = c;
    raiseLoaderError(cinfo, code);
}

const char* colourSpaceName(J_COLOR_SPACE space, int components, char* scratch, size_t size) {
    switch (space) {
        case JCS_CMYK:
            return "CMYK";
        case JCS_YCCK:
            return "YCCK";
        default:
            std::snprintf(scratch, size, "%d-component", components);
            return scratch;
    }
}

// Called by the library before each step of reading the input: a file of
// hundreds of scans makes the library go over its whole picture once per
// scan, so it is refused as soon as it goes past the limit.
void checkScanCount(j_common_ptr common) {
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    if (cinfo->input_scan_number > kMaxPictureScans)
        refuse(cinfo, kTooManyScans, kMaxPictureScans, 0, 0);
}

const char* fileKindName(bool folder, bool fifo, bool socket, bool device) {
    return folder   ? "folder"
           : fifo   ? "FIFO"
           : socket ? "socket"
           : device ? "device"
                    : "special file";
}

// The library's standard error manager followed by the recovery point of the
// decode in progress; the library only ever sees the first member.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf setjmpBuffer;
};

// Replaces the library's error exit: prints the message, jumps back into
// decodeJpegStream. Never returns.
[[noreturn]] void jpegErrorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    manager->pub.output_message(cinfo);
    std::longjmp(manager->setjmpBuffer, 1);
}

// Drives the library over one stream, decoding straight into the demo's
// pixel layout (B, G, R, 0xFF in memory, 0xFFRRGGBB as a word) in a buffer
// from allocateDecodedBuffer. Returns it, with its pixel count, or null after
// an error. Closes the stream exactly once on both paths. Pictures of more
// than capacityPixels pixels, and pictures that cannot be decoded to RGB
// (CMYK, YCCK), are refused like any other library error.
//
// Everything the recovery point must see after a jump is volatile or lives in
// memory the library writes (the decompression object), and no object with a
// destructor lives in this frame: the jump skips destructors.
Pixel* decodeJpegStream(FILE* stream, size_t capacityPixels, size_t* pixelCount) {
    static_assert(std::endian::native == std::endian::little,
                  "BGRA bytes are a 0xAARRGGBB word only on little-endian machines");
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegErrorManager errorManager;
    Pixel* volatile decoded = nullptr;

    cinfo.err = jpeg_std_error(&errorManager.pub);
    errorManager.pub.error_exit = jpegErrorExit;
    errorManager.pub.addon_message_table = kLoaderMessages;
    errorManager.pub.first_addon_message = kPictureTooLarge;
    errorManager.pub.last_addon_message = kTooManyScans;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = checkScanCount;

    if (setjmp(errorManager.setjmpBuffer) != 0) {
        jpeg_destroy_decompress(&cinfo);
        std::free(decoded);
        std::fclose(stream);
        return nullptr;
    }

    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    // Beyond this the library would need backing store, which it refuses.
    cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
    jpeg_stdio_src(&cinfo, stream);
    jpeg_read_header(&cinfo, TRUE);

    // Greyscale becomes RGB in the library; anything that still does not come
    // out as three samples per pixel is refused before it costs any memory.
    if (cinfo.jpeg_color_space == JCS_GRAYSCALE) {
        cinfo.out_color_space = JCS_RGB;
    }
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.out_color_components != 3) {
        char scratch[32];
        std::snprintf(
            cinfo.err->msg_parm.s, JMSG_STR_PARM_MAX, "%s",
            colourSpaceName(cinfo.jpeg_color_space, cinfo.num_components, scratch, sizeof scratch));
        raiseLoaderError(&cinfo, kNotConvertibleToRgb);
    }
    // A file may declare up to 65,535 x 65,535 pixels: check before the
    // library or this loader allocates anything of that size.
    const uint64_t pixels = uint64_t{cinfo.output_width} * cinfo.output_height;
    if (pixels > capacityPixels) {
        refuse(&cinfo, kPictureTooLarge, clampToInt(cinfo.output_width),
               clampToInt(cinfo.output_height), clampToInt(capacityPixels));
    }

    // The same RGB, with the library writing each pixel as the demo stores it.
    cinfo.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&cinfo);

    decoded =
        static_cast<Pixel*>(allocateDecodedBuffer(static_cast<size_t>(pixels) * sizeof(Pixel)));
    if (decoded == nullptr) {
        refuse(&cinfo, kNoMemoryForPicture, clampToInt(cinfo.output_width),
               clampToInt(cinfo.output_height), 0);
    }
    // Rows follow each other with the picture's own width as pitch.
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(decoded + size_t{cinfo.output_scanline} *
                                                                cinfo.output_width);
        jpeg_read_scanlines(&cinfo, &row, 1);
    }

    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(stream);
    *pixelCount = static_cast<size_t>(pixels);
    return decoded;
}

}  // namespace

void setMessageBoxHook(MessageBoxHook hook) {
    messageBox = hook != nullptr ? hook : messageToStandardError;
}

void setDecodedBufferAllocator(DecodedBufferAllocator allocator) {
    allocateDecodedBuffer = allocator != nullptr ? allocator : allocateWithMalloc;
}

FILE* openPictureFile(const char* name) {
#ifdef _WIN32
    // No FIFOs here, but folders and devices (CON, NUL) are refused alike.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(name, error);
    if (!error && std::filesystem::exists(status) &&
        status.type() != std::filesystem::file_type::regular) {
        using std::filesystem::file_type;
        std::fprintf(
            stderr, "%s: is a %s, not a regular file\n", name,
            fileKindName(
                status.type() == file_type::directory, status.type() == file_type::fifo,
                status.type() == file_type::socket,
                status.type() == file_type::character || status.type() == file_type::block));
        return nullptr;
    }
    // Devices such as CON are not always seen by their name: check what was
    // opened too.
    FILE* stream = std::fopen(name, "rb");
    struct _stat64 opened;
    if (stream != nullptr && _fstat64(_fileno(stream), &opened) == 0 &&
        (opened.st_mode & _S_IFMT) != _S_IFREG) {
        const int type = opened.st_mode & _S_IFMT;
        std::fprintf(stderr, "%s: is a %s, not a regular file\n", name,
                     fileKindName(type == _S_IFDIR, type == _S_IFIFO, false, type == _S_IFCHR));
        std::fclose(stream);
        return nullptr;
    }
    return stream;
#else
    // Opened without blocking (a FIFO would wait for a writer), then checked
    // on the open descriptor, so the checked file is the one read.
    struct stat info;
    const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const bool known = fd >= 0 ? ::fstat(fd, &info) == 0 : ::stat(name, &info) == 0;
    if (known && !S_ISREG(info.st_mode)) {
        std::fprintf(
            stderr, "%s: is a %s, not a regular file\n", name,
            fileKindName(S_ISDIR(info.st_mode), S_ISFIFO(info.st_mode), S_ISSOCK(info.st_mode),
                         S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)));
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    if (fd < 0)
        return nullptr;
    const int flags = ::fcntl(fd, F_GETFL);
    FILE* stream = nullptr;
    if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
        stream = ::fdopen(fd, "rb");
    if (stream == nullptr)
        ::close(fd);
    return stream;
#endif
}

bool loadPictureStream(FILE* stream, Pixel* destination, size_t capacityPixels) {
    size_t count = 0;
    Pixel* decoded = decodeJpegStream(stream, capacityPixels, &count);
    if (decoded == nullptr) {
        return false;
    }
    std::memcpy(destination, decoded, count * sizeof(Pixel));
    std::free(decoded);
    return true;
}

bool loadPicture(const char* name, Pixel* destination, size_t capacityPixels) {
    FILE* stream = openPictureFile(name);
    if (stream == nullptr) {
        messageBox("ERROR LOCATING...", name);
        return false;
    }
    loadPictureStream(stream, destination, capacityPixels);
    return true;
}
