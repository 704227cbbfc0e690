// The extension module jpg._jpg: the codec API of jpg_codec.h for Python,
// numpy arrays in and out.
//
// Written on the CPython API itself: its functions are plain built-in
// functions of the module, which pickle by name (Dask ships them to
// workers as they are), and the buffer protocol is used directly, so that a
// JPEG file is read where it lies and an array's rows are passed with their
// pitch. Every call releases the interpreter lock around the library's work
// (headers, decode, encode and any copy of the pixels) and keeps no state:
// any number of Python threads may call at once.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "jpg_codec.h"

namespace {

// ---- Holding Python's objects ---------------------------------------------

// A Python exception has been set: unwinds to the entry point, which returns
// null.
struct PythonError {};

// One owned reference, given back when the holder goes.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject *object) : object_(object) {
        if (object_ == nullptr) throw PythonError{};
    }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    Ref(Ref &&other) noexcept : object_(other.release()) {}
    ~Ref() { Py_XDECREF(object_); }
    PyObject *get() const { return object_; }
    PyObject *release() {
        PyObject *object = object_;
        object_ = nullptr;
        return object;
    }

private:
    PyObject *object_ = nullptr;
};

// The interpreter lock released for the life of the holder.
class WithoutGil {
public:
    WithoutGil() : state_(PyEval_SaveThread()) {}
    WithoutGil(const WithoutGil &) = delete;
    WithoutGil &operator=(const WithoutGil &) = delete;
    ~WithoutGil() { PyEval_RestoreThread(state_); }

private:
    PyThreadState *state_;
};

// The module's exception types and numpy's allocator, set once at import.
PyObject *gJpgError = nullptr;
PyObject *gDamagedDataWarning = nullptr;
PyObject *gNumpyEmpty = nullptr;
PyObject *gNumpyUint8 = nullptr;

std::string typeName(PyObject *object) { return Py_TYPE(object)->tp_name; }

[[noreturn]] void raiseType(const std::string &message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw PythonError{};
}

// Raises jpg.JpgError with `message`, its `code` attribute the library's
// status.
[[noreturn]] void raiseJpg(int32_t code, const std::string &message) {
    Ref error(PyObject_CallFunction(gJpgError, "s", message.c_str()));
    Ref value(PyLong_FromLong(code));
    if (PyObject_SetAttrString(error.get(), "code", value.get()) != 0) throw PythonError{};
    PyErr_SetObject(gJpgError, error.get());
    throw PythonError{};
}

// A call's status in Python's terms: nothing for JPG_OK; for JPG_WARNING a
// DamagedDataWarning (or, with `strict`, a JpgError); MemoryError where
// memory could not be had; JpgError for every other failure.
void check(int32_t status, const JpgError &error, bool strict = false) {
    if (status == JPG_OK) return;
    if (status == JPG_WARNING && !strict) {
        if (PyErr_WarnEx(gDamagedDataWarning, error.message, 1) != 0) throw PythonError{};
        return;
    }
    if (status == JPG_ERR_NO_MEMORY) {
        PyErr_SetString(PyExc_MemoryError, error.message);
        throw PythonError{};
    }
    raiseJpg(status, error.message);
}

// ---- Buffers ---------------------------------------------------------------

// A buffer of an object, held until the holder goes: the object can neither
// free nor move it meanwhile (a bytearray cannot be resized, an mmap cannot
// be closed), so the library may read or write it without the lock.
class Buffer {
public:
    // `what` names the argument in the TypeError of an object that cannot
    // give the buffer `flags` asks for.
    Buffer(PyObject *object, int flags, const char *what, const char *kind) {
        if (!PyObject_CheckBuffer(object))
            raiseType(std::string(what) + " must be " + kind + ", not " + typeName(object));
        if (PyObject_GetBuffer(object, &view_, flags) != 0) {
            // The exporter's own reason (not contiguous, read-only, ...) after ours.
            PyObject *type, *value, *traceback;
            PyErr_Fetch(&type, &value, &traceback);
            PyObject *text = value != nullptr ? PyObject_Str(value) : nullptr;
            const char *utf8 = text != nullptr ? PyUnicode_AsUTF8(text) : nullptr;
            const std::string reason = utf8 != nullptr ? utf8 : "refused";
            PyErr_Clear();
            Py_XDECREF(text);
            Py_XDECREF(type);
            Py_XDECREF(value);
            Py_XDECREF(traceback);
            raiseType(std::string(what) + " must be " + kind + ": " + reason);
        }
        held_ = true;
    }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    ~Buffer() {
        if (held_) PyBuffer_Release(&view_);
    }
    const Py_buffer &view() const { return view_; }
    // The bytes, never null (an empty buffer may give null).
    const void *data() const { return view_.buf != nullptr ? view_.buf : ""; }
    size_t size() const { return static_cast<size_t>(view_.len); }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// A JPEG file or an ICC profile: any object with the buffer protocol whose
// bytes are contiguous, read where they lie.
constexpr const char *kBytesLike = "a bytes-like object (bytes, bytearray, memoryview, mmap, a numpy array)";

// The layout of a pixel array: (height, width) or (height, width, channels)
// of uint8, its rows `pitch` bytes apart when each row's bytes are
// contiguous (0 when they are not, or the rows go backwards).
struct ArrayLayout {
    uint32_t height = 0, width = 0, channels = 1;
    Py_ssize_t pitch = 0;
    Py_ssize_t strides[3] = {0, 0, 0};
};

std::string shapeText(const Py_buffer &view) {
    std::string text = "(";
    for (int i = 0; i < view.ndim; ++i) text += (i ? ", " : "") + std::to_string(view.shape[i]);
    return text + (view.ndim == 1 ? ",)" : ")");
}

// The element type of a buffer that is not uint8, in numpy's words when the
// object has a dtype.
std::string elementText(PyObject *object, const Py_buffer &view) {
    if (PyObject *dtype = PyObject_GetAttrString(object, "dtype")) {
        Ref held(dtype);
        Ref text(PyObject_Str(dtype));
        return PyUnicode_AsUTF8(text.get());
    }
    PyErr_Clear();
    return std::string("elements of format '") + (view.format ? view.format : "B") + "'";
}

bool isUint8(const Py_buffer &view) {
    if (view.itemsize != 1) return false;
    const char *format = view.format ? view.format : "B";
    if (*format != '\0' && std::strchr("@=<>!", *format)) ++format;
    return std::strcmp(format, "B") == 0;
}

// Checks that `view` (of `object`, named `what`) holds uint8 pixels as
// (H, W), (H, W, 1), (H, W, 3) or (H, W, 4), and gives their layout.
ArrayLayout pixelLayout(PyObject *object, const Py_buffer &view, const char *what) {
    if (!isUint8(view)) raiseType(std::string(what) + " must hold uint8, not " + elementText(object, view));
    if (view.ndim != 2 && view.ndim != 3)
        raiseJpg(JPG_ERR_ARGUMENT, std::string(what) + " must have the shape (H, W), (H, W, 3) or (H, W, 4), not " +
                                       shapeText(view));
    ArrayLayout layout;
    if (view.ndim == 3) {
        const Py_ssize_t c = view.shape[2];
        if (c != 1 && c != 3 && c != 4)
            raiseJpg(JPG_ERR_ARGUMENT, std::string(what) + " must have 1, 3 or 4 channels, not " + std::to_string(c) +
                                           " (shape " + shapeText(view) + ")");
        layout.channels = static_cast<uint32_t>(c);
        layout.strides[2] = view.strides[2];
    }
    if (view.shape[0] == 0 || view.shape[1] == 0)
        raiseJpg(JPG_ERR_ARGUMENT, std::string(what) + " is empty (shape " + shapeText(view) + ")");
    if (view.shape[0] > UINT32_MAX || view.shape[1] > UINT32_MAX)
        raiseJpg(JPG_ERR_TOO_LARGE, std::string(what) + " is too large (shape " + shapeText(view) + ")");
    layout.height = static_cast<uint32_t>(view.shape[0]);
    layout.width = static_cast<uint32_t>(view.shape[1]);
    layout.strides[0] = view.strides[0];
    layout.strides[1] = view.strides[1];
    // A side of one element has no stride to speak of.
    const Py_ssize_t row = Py_ssize_t{layout.width} * layout.channels;
    const bool pixelsContiguous = layout.channels == 1 || layout.strides[2] == 1;
    const bool rowContiguous = layout.width == 1 || layout.strides[1] == Py_ssize_t{layout.channels};
    const Py_ssize_t pitch = layout.height == 1 ? row : layout.strides[0];
    if (pixelsContiguous && rowContiguous && pitch >= row) layout.pitch = pitch;
    return layout;
}

// ---- Arguments --------------------------------------------------------------

// An int argument that must fit [low, high]: TypeError when it is no
// integer, JpgError naming it when it is out of that range; `fallback` when
// it was not given.
int64_t intArgument(PyObject *value, const char *name, int64_t fallback, int64_t low, int64_t high) {
    if (value == nullptr) return fallback;
    if (!PyIndex_Check(value)) raiseType(std::string(name) + " must be an int, not " + typeName(value));
    Ref index(PyNumber_Index(value));
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) throw PythonError{};
    if (overflow != 0 || v < low || v > high)
        raiseJpg(JPG_ERR_ARGUMENT, std::string(name) + " is out of range (" + std::to_string(low) + " to " +
                                       std::to_string(high) + ")");
    return v;
}

bool boolArgument(PyObject *value, bool fallback) {
    if (value == nullptr) return fallback;
    const int truth = PyObject_IsTrue(value);
    if (truth < 0) throw PythonError{};
    return truth != 0;
}

struct Name {
    const char *name;
    int32_t value;
};

constexpr Name kFormats[] = {{"GREY", JPG_FORMAT_GREY},
                             {"RGB", JPG_FORMAT_RGB},
                             {"BGR", JPG_FORMAT_BGR},
                             {"RGBA", JPG_FORMAT_RGBA},
                             {"BGRA", JPG_FORMAT_BGRA}};
constexpr Name kKernels[] = {{"auto", JPG_KERNELS_AUTO},
                             {"reference", JPG_KERNELS_REFERENCE},
                             {"plain", JPG_KERNELS_PLAIN},
                             {"sse2", JPG_KERNELS_SSE2},
                             {"avx2", JPG_KERNELS_AVX2}};
constexpr Name kSamplings[] = {{"444", JPG_SAMPLING_444},
                               {"422", JPG_SAMPLING_422},
                               {"420", JPG_SAMPLING_420},
                               {"GREY", JPG_SAMPLING_GREY}};

// The value of a name from `table`: TypeError when the argument is not a
// str, JpgError listing the names when it is none of them.
template <size_t N>
int32_t nameArgument(PyObject *value, const char *argument, const Name (&table)[N], int32_t fallback) {
    if (value == nullptr) return fallback;
    if (!PyUnicode_Check(value)) raiseType(std::string(argument) + " must be a str, not " + typeName(value));
    const char *text = PyUnicode_AsUTF8(value);
    if (text == nullptr) throw PythonError{};
    std::string names;
    for (const Name &n : table) {
        if (std::strcmp(text, n.name) == 0) return n.value;
        names += (names.empty() ? "'" : ", '") + std::string(n.name) + "'";
    }
    raiseJpg(JPG_ERR_ARGUMENT, std::string(argument) + " must be one of " + names + ", not '" + text + "'");
}

uint32_t bytesPerPixel(int32_t format) {
    return format == JPG_FORMAT_GREY ? 1 : format == JPG_FORMAT_RGB || format == JPG_FORMAT_BGR ? 3 : 4;
}

// A new numpy array of uint8 for a picture of height x width in `format`:
// (H, W) for grey, (H, W, 3) or (H, W, 4) for the others.
Ref newPicture(uint32_t height, uint32_t width, int32_t format) {
    const uint32_t channels = bytesPerPixel(format);
    Ref shape(channels == 1 ? Py_BuildValue("(II)", height, width) : Py_BuildValue("(III)", height, width, channels));
    return Ref(PyObject_CallFunctionObjArgs(gNumpyEmpty, shape.get(), gNumpyUint8, nullptr));
}

// ---- Decoding ---------------------------------------------------------------

// The headers of `jpeg`, read without the lock; an exception when not even
// the frame can be read. `verdict` holds jpgDecode's reason when the file is
// not decodable.
JpgInfo readHeaders(const Buffer &jpeg, JpgError &verdict) {
    JpgInfo info{};
    info.size = sizeof info;
    int32_t status;
    {
        WithoutGil unlocked;
        status = jpgReadInfo(jpeg.data(), jpeg.size(), &info, &verdict);
    }
    check(status, verdict);
    return info;
}

// The arguments that decode and decode_into share.
struct DecodeCall {
    JpgDecodeSettings settings{};
    uint32_t minWidth = 0, minHeight = 0;
    bool scaleGiven = false;  // a scale other than 1
    bool strict = false;
    uint64_t pictureLimit = JPG_DEFAULT_MEMORY_LIMIT;  // most bytes of a picture decode() allocates; 0 none
};

DecodeCall decodeCall(PyObject *format, PyObject *scale, PyObject *minWidth, PyObject *minHeight, PyObject *threads,
                      PyObject *kernels, PyObject *memoryLimit, PyObject *strict) {
    DecodeCall call;
    jpgDefaultDecodeSettings(&call.settings);
    JpgDecodeSettings &s = call.settings;
    s.format = nameArgument(format, "format", kFormats, JPG_FORMAT_RGB);
    s.scale = static_cast<int32_t>(intArgument(scale, "scale", 1, INT32_MIN, INT32_MAX));
    call.scaleGiven = s.scale != 1;
    call.minWidth = static_cast<uint32_t>(intArgument(minWidth, "min_width", 0, 0, UINT32_MAX));
    call.minHeight = static_cast<uint32_t>(intArgument(minHeight, "min_height", 0, 0, UINT32_MAX));
    s.threads = static_cast<int32_t>(intArgument(threads, "threads", 0, INT32_MIN, INT32_MAX));
    s.kernels = nameArgument(kernels, "kernels", kKernels, JPG_KERNELS_AUTO);
    if (memoryLimit != nullptr && memoryLimit != Py_None)
        s.memoryLimit = call.pictureLimit =
            static_cast<uint64_t>(intArgument(memoryLimit, "memory_limit", 0, 0, INT64_MAX));
    call.strict = boolArgument(strict, false);
    return call;
}

// Reads the headers of `jpeg` and settles the call's scale (min_width and
// min_height choosing it when given): the size of the picture it gives.
void pictureSize(const Buffer &jpeg, DecodeCall &call, uint32_t &width, uint32_t &height) {
    JpgError verdict{};
    const JpgInfo info = readHeaders(jpeg, verdict);
    if (!info.decodable) check(verdict.code, verdict);
    if (call.minWidth != 0 || call.minHeight != 0) {
        if (call.scaleGiven) raiseJpg(JPG_ERR_ARGUMENT, "give scale or min_width/min_height, not both");
        call.settings.scale = jpgScaleFor(&info, call.minWidth, call.minHeight);
    }
    if (jpgScaledSize(&info, call.settings.scale, &width, &height) != JPG_OK)
        raiseJpg(JPG_ERR_ARGUMENT, "scale must be 1, 2, 4 or 8, not " + std::to_string(call.settings.scale));
}

// Decodes `jpeg` into pixels[0, size), rows `pitch` apart, without the lock.
void decodeInto(const Buffer &jpeg, const DecodeCall &call, void *pixels, size_t pitch, size_t size) {
    JpgError error{};
    int32_t status;
    {
        WithoutGil unlocked;
        status = jpgDecode(jpeg.data(), jpeg.size(), &call.settings, pixels, pitch, size, &error);
    }
    check(status, error, call.strict);
}

PyObject *decode(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"data",    "format",  "scale",        "min_width", "min_height",
                                     "threads", "kernels", "memory_limit", "strict",    nullptr};
    PyObject *data, *format = nullptr, *scale = nullptr, *minWidth = nullptr, *minHeight = nullptr,
                    *threads = nullptr, *kernels = nullptr, *memoryLimit = nullptr, *strict = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOOOOOOO:decode", const_cast<char **>(keywords), &data,
                                     &format, &scale, &minWidth, &minHeight, &threads, &kernels, &memoryLimit,
                                     &strict))
        return nullptr;
    DecodeCall call = decodeCall(format, scale, minWidth, minHeight, threads, kernels, memoryLimit, strict);
    const Buffer jpeg(data, PyBUF_SIMPLE, "data", kBytesLike);
    uint32_t width, height;
    pictureSize(jpeg, call, width, height);
    const size_t row = size_t{width} * bytesPerPixel(call.settings.format);
    const uint64_t bytes = uint64_t{row} * height;
    // A small file may claim a picture of 65,535 x 65,535: the picture this
    // call allocates keeps to the memory limit, as the decoder's working
    // memory does.
    if (call.pictureLimit != 0 && bytes > call.pictureLimit)
        raiseJpg(JPG_ERR_TOO_LARGE, "the picture needs " + std::to_string(bytes) +
                                        " bytes, more than the memory limit of " + std::to_string(call.pictureLimit));
    Ref picture = newPicture(height, width, call.settings.format);
    const Buffer pixels(picture.get(), PyBUF_SIMPLE | PyBUF_WRITABLE, "the picture", "an array");
    decodeInto(jpeg, call, pixels.view().buf, row, pixels.size());
    return picture.release();
}

PyObject *decodeIntoArray(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"data",       "out",     "format",  "scale",        "min_width",
                                     "min_height", "threads", "kernels", "memory_limit", "strict",
                                     nullptr};
    PyObject *data, *out, *format = nullptr, *scale = nullptr, *minWidth = nullptr, *minHeight = nullptr,
                          *threads = nullptr, *kernels = nullptr, *memoryLimit = nullptr, *strict = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OOOOOOOO:decode_into", const_cast<char **>(keywords), &data,
                                     &out, &format, &scale, &minWidth, &minHeight, &threads, &kernels, &memoryLimit,
                                     &strict))
        return nullptr;
    DecodeCall call = decodeCall(format, scale, minWidth, minHeight, threads, kernels, memoryLimit, strict);
    const Buffer jpeg(data, PyBUF_SIMPLE, "data", kBytesLike);
    const Buffer pixels(out, PyBUF_RECORDS, "out", "a writable numpy array of uint8");
    const ArrayLayout layout = pixelLayout(out, pixels.view(), "out");
    uint32_t width, height;
    pictureSize(jpeg, call, width, height);
    const uint32_t channels = bytesPerPixel(call.settings.format);
    const bool shapeFits = layout.height == height && layout.width == width && layout.channels == channels;
    if (!shapeFits) {
        const std::string wanted = "(" + std::to_string(height) + ", " + std::to_string(width) +
                                   (channels == 1 ? ")" : ", " + std::to_string(channels) + ")");
        raiseJpg(JPG_ERR_ARGUMENT, "out has the shape " + shapeText(pixels.view()) + "; the picture in format " +
                                       kFormats[call.settings.format - 1].name + " at scale " +
                                       std::to_string(call.settings.scale) + " needs " + wanted);
    }
    if (layout.pitch == 0) raiseJpg(JPG_ERR_ARGUMENT, "out's rows must each be contiguous (C order), and go forwards");
    const size_t size = static_cast<size_t>(layout.pitch) * (height - 1) + size_t{width} * channels;
    decodeInto(jpeg, call, pixels.view().buf, static_cast<size_t>(layout.pitch), size);
    Py_INCREF(out);
    return out;
}

PyObject *decodedShape(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"data", "format", "scale", "min_width", "min_height", nullptr};
    PyObject *data, *format = nullptr, *scale = nullptr, *minWidth = nullptr, *minHeight = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOOO:decoded_shape", const_cast<char **>(keywords), &data,
                                     &format, &scale, &minWidth, &minHeight))
        return nullptr;
    DecodeCall call = decodeCall(format, scale, minWidth, minHeight, nullptr, nullptr, nullptr, nullptr);
    const Buffer jpeg(data, PyBUF_SIMPLE, "data", kBytesLike);
    uint32_t width, height;
    pictureSize(jpeg, call, width, height);
    const uint32_t channels = bytesPerPixel(call.settings.format);
    return channels == 1 ? Py_BuildValue("(II)", height, width) : Py_BuildValue("(III)", height, width, channels);
}

PyObject *readPreview(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"data", "format", nullptr};
    PyObject *data, *formatName = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:preview", const_cast<char **>(keywords), &data, &formatName))
        return nullptr;
    const int32_t format = nameArgument(formatName, "format", kFormats, JPG_FORMAT_RGB);
    const Buffer jpeg(data, PyBUF_SIMPLE, "data", kBytesLike);
    Ref picture = newPicture(JPG_PREVIEW_HEIGHT, JPG_PREVIEW_WIDTH, format);
    const Buffer pixels(picture.get(), PyBUF_SIMPLE | PyBUF_WRITABLE, "the preview", "an array");
    JpgError error{};
    int32_t status;
    {
        WithoutGil unlocked;
        status = jpgReadPreview(jpeg.data(), jpeg.size(), format, pixels.view().buf, pixels.size(), &error);
    }
    check(status, error);
    return picture.release();
}

// ---- What a file holds -------------------------------------------------------

const char *colourSpaceName(int32_t colourSpace) {
    switch (colourSpace) {
    case JPG_COLOURS_GREY: return "GREY";
    case JPG_COLOURS_YCBCR: return "YCbCr";
    case JPG_COLOURS_RGB: return "RGB";
    default: return "other";
    }
}

const char *codingName(int32_t coding) {
    switch (coding) {
    case JPG_CODING_BASELINE: return "baseline";
    case JPG_CODING_EXTENDED: return "extended";
    case JPG_CODING_PROGRESSIVE: return "progressive";
    case JPG_CODING_LOSSLESS: return "lossless";
    case JPG_CODING_ARITHMETIC: return "arithmetic";
    case JPG_CODING_ARITHMETIC_PROGRESSIVE: return "arithmetic progressive";
    default: return "hierarchical";
    }
}

// The fields of jpg.Info, in its order, as a tuple.
PyObject *readInfo(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"data", nullptr};
    PyObject *data;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:info", const_cast<char **>(keywords), &data)) return nullptr;
    const Buffer jpeg(data, PyBUF_SIMPLE, "data", kBytesLike);
    JpgError error{};
    const JpgInfo info = readHeaders(jpeg, error);
    const int32_t components = info.components < 4 ? info.components : 4;
    Ref sampling(PyTuple_New(components));
    for (int32_t c = 0; c < components; ++c)
        PyTuple_SET_ITEM(sampling.get(), c, Ref(Py_BuildValue("(ii)", info.samplingH[c], info.samplingV[c])).release());
    Ref icc(info.iccSize == 0 ? Py_NewRef(Py_None) : PyBytes_FromStringAndSize(nullptr, info.iccSize));
    if (info.iccSize != 0) {
        JpgError iccError{};
        int32_t status;
        {
            WithoutGil unlocked;
            status = jpgReadIcc(jpeg.data(), jpeg.size(), PyBytes_AS_STRING(icc.get()), info.iccSize, &iccError);
        }
        check(status, iccError);
    }
    Ref layout(info.previewLayout < 0 ? Py_NewRef(Py_None) : PyLong_FromLong(info.previewLayout));
    return Py_BuildValue("(IIissOIiOONsI)", info.width, info.height, info.components, colourSpaceName(info.colourSpace),
                         codingName(info.coding), sampling.get(), info.restartInterval, info.orientation,
                         layout.get(), icc.get(), PyBool_FromLong(info.decodable),
                         info.decodable ? "" : error.message, info.scans);
}

// ---- Encoding ---------------------------------------------------------------

// The source format of an array with `channels` channels: `format` names the
// channels' order (RGB by default, BGR on request), and must agree with
// their count when it names one (GREY, RGBA, BGRA).
int32_t sourceFormat(int32_t format, uint32_t channels) {
    const bool bgr = format == JPG_FORMAT_BGR || format == JPG_FORMAT_BGRA;
    const int32_t byShape =
        channels == 1 ? JPG_FORMAT_GREY : channels == 3 ? (bgr ? JPG_FORMAT_BGR : JPG_FORMAT_RGB)
                                                        : (bgr ? JPG_FORMAT_BGRA : JPG_FORMAT_RGBA);
    const bool named = format == JPG_FORMAT_GREY || format == JPG_FORMAT_RGBA || format == JPG_FORMAT_BGRA;
    if (named && format != byShape)
        raiseJpg(JPG_ERR_ARGUMENT, std::string("format ") + kFormats[format - 1].name + " needs " +
                                       std::to_string(bytesPerPixel(format)) + " channel(s); the array has " +
                                       std::to_string(channels));
    return byShape;
}

// The pixels of a strided array, gathered row after row.
std::vector<uint8_t> gatherPixels(const Py_buffer &view, const ArrayLayout &layout) {
    std::vector<uint8_t> pixels(size_t{layout.height} * layout.width * layout.channels);
    uint8_t *to = pixels.data();
    const auto *base = static_cast<const uint8_t *>(view.buf);
    for (uint32_t y = 0; y < layout.height; ++y)
        for (uint32_t x = 0; x < layout.width; ++x) {
            const uint8_t *pixel = base + y * layout.strides[0] + x * layout.strides[1];
            for (uint32_t c = 0; c < layout.channels; ++c) *to++ = pixel[c * layout.strides[2]];
        }
    return pixels;
}

struct FreeBlock {
    void operator()(void *block) const { jpgFree(block); }
};

PyObject *encode(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"array",          "format",         "quality",     "level",
                                     "sampling",       "restart_interval", "preview",   "preview_layout",
                                     "icc_profile",    "threads",        "kernels",     nullptr};
    PyObject *array, *format = nullptr, *quality = nullptr, *level = nullptr, *sampling = nullptr,
                     *restartInterval = nullptr, *preview = nullptr, *previewLayout = nullptr, *icc = nullptr,
                     *threads = nullptr, *kernels = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOOOOOOOOO:encode", const_cast<char **>(keywords), &array,
                                     &format, &quality, &level, &sampling, &restartInterval, &preview, &previewLayout,
                                     &icc, &threads, &kernels))
        return nullptr;
    JpgEncodeSettings s;
    jpgDefaultEncodeSettings(&s);
    const int32_t order = nameArgument(format, "format", kFormats, JPG_FORMAT_RGB);
    s.quality = static_cast<int32_t>(intArgument(quality, "quality", s.quality, INT32_MIN, INT32_MAX));
    if (level != nullptr && level != Py_None) {
        s.useLevel = 1;
        s.level = static_cast<int32_t>(intArgument(level, "level", 0, INT32_MIN, INT32_MAX));
    }
    s.sampling = nameArgument(sampling, "sampling", kSamplings, s.sampling);
    s.restartInterval =
        static_cast<uint32_t>(intArgument(restartInterval, "restart_interval", 0, 0, UINT32_MAX));
    s.preview = boolArgument(preview, true) ? 1 : 0;
    s.previewLayout =
        static_cast<int32_t>(intArgument(previewLayout, "preview_layout", s.previewLayout, INT32_MIN, INT32_MAX));
    s.threads = static_cast<int32_t>(intArgument(threads, "threads", 0, INT32_MIN, INT32_MAX));
    s.kernels = nameArgument(kernels, "kernels", kKernels, JPG_KERNELS_AUTO);

    const Buffer pixels(array, PyBUF_RECORDS_RO, "array", "a numpy array of uint8");
    const ArrayLayout layout = pixelLayout(array, pixels.view(), "array");
    s.format = sourceFormat(order, layout.channels);
    std::optional<Buffer> profile;
    if (icc != nullptr && icc != Py_None) {
        profile.emplace(icc, PyBUF_SIMPLE, "icc_profile", kBytesLike);
        if (profile->size() > UINT32_MAX) raiseJpg(JPG_ERR_TOO_LARGE, "icc_profile is too large");
        s.icc = profile->data();
        s.iccSize = static_cast<uint32_t>(profile->size());
    }

    void *block = nullptr;
    size_t size = 0;
    JpgError error{};
    int32_t status;
    {
        WithoutGil unlocked;
        std::vector<uint8_t> gathered;
        const void *source = pixels.view().buf;
        size_t pitch = static_cast<size_t>(layout.pitch);
        if (pitch == 0) {
            gathered = gatherPixels(pixels.view(), layout);
            source = gathered.data();
            pitch = size_t{layout.width} * layout.channels;
        }
        status = jpgEncode(source, layout.width, layout.height, pitch, &s, &block, &size, &error);
    }
    const std::unique_ptr<void, FreeBlock> owned(block);
    check(status, error);
    return PyBytes_FromStringAndSize(static_cast<const char *>(block), static_cast<Py_ssize_t>(size));
}

// ---- The C API's own time, for bench/python_compare.py ---------------------

PyObject *floatList(const std::vector<double> &values) {
    Ref list(PyList_New(0));
    for (double v : values)
        if (PyList_Append(list.get(), Ref(PyFloat_FromDouble(v)).get()) != 0) throw PythonError{};
    return list.release();
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Seconds of each of `repeats` decodes done in C as a C program would do
// them: jpgReadInfo, a block of the picture's size, jpgDecode, free.
PyObject *timeCDecode(PyObject *, PyObject *args) {
    PyObject *data, *formatName;
    int repeats, scale, threads;
    if (!PyArg_ParseTuple(args, "OiOii:_time_c_decode", &data, &repeats, &formatName, &scale, &threads))
        return nullptr;
    const int32_t format = nameArgument(formatName, "format", kFormats, JPG_FORMAT_RGB);
    const Buffer jpeg(data, PyBUF_SIMPLE, "data", kBytesLike);
    std::vector<double> seconds(repeats > 0 ? repeats : 0);
    int32_t status = JPG_OK;
    {
        WithoutGil unlocked;
        JpgDecodeSettings settings;
        jpgDefaultDecodeSettings(&settings);
        settings.format = format;
        settings.scale = scale;
        settings.threads = threads;
        for (double &s : seconds) {
            const auto start = std::chrono::steady_clock::now();
            JpgInfo info{};
            info.size = sizeof info;
            uint32_t width = 0, height = 0;
            jpgReadInfo(jpeg.data(), jpeg.size(), &info, nullptr);
            jpgScaledSize(&info, scale, &width, &height);
            const size_t row = size_t{width} * bytesPerPixel(format), size = row * height;
            void *pixels = std::malloc(size);
            status = jpgDecode(jpeg.data(), jpeg.size(), &settings, pixels, row, size, nullptr);
            std::free(pixels);
            s = secondsSince(start);
        }
    }
    if (status != JPG_OK) raiseJpg(status, "the timed decode failed");
    return floatList(seconds);
}

// Seconds of each of `repeats` encodes of a C-contiguous array done in C:
// jpgEncode, jpgFree.
PyObject *timeCEncode(PyObject *, PyObject *args) {
    PyObject *array;
    int repeats, quality, threads;
    if (!PyArg_ParseTuple(args, "Oiii:_time_c_encode", &array, &repeats, &quality, &threads)) return nullptr;
    const Buffer pixels(array, PyBUF_RECORDS_RO | PyBUF_C_CONTIGUOUS, "array", "a C-contiguous array of uint8");
    const ArrayLayout layout = pixelLayout(array, pixels.view(), "array");
    std::vector<double> seconds(repeats > 0 ? repeats : 0);
    int32_t status = JPG_OK;
    JpgError error{};
    {
        WithoutGil unlocked;
        JpgEncodeSettings settings;
        jpgDefaultEncodeSettings(&settings);
        settings.format = sourceFormat(JPG_FORMAT_RGB, layout.channels);
        settings.quality = quality;
        settings.threads = threads;
        for (double &s : seconds) {
            const auto start = std::chrono::steady_clock::now();
            void *block = nullptr;
            size_t size = 0;
            status = jpgEncode(pixels.view().buf, layout.width, layout.height, size_t{layout.width} * layout.channels,
                               &settings, &block, &size, &error);
            jpgFree(block);
            s = secondsSince(start);
        }
    }
    check(status, error);
    return floatList(seconds);
}

// ---- The module -------------------------------------------------------------

// Every entry point: C++ exceptions become Python's (a set Python
// exception, or MemoryError for memory that could not be had).
template <PyObject *(*Entry)(PyObject *, PyObject *, PyObject *)>
PyObject *guarded(PyObject *self, PyObject *args, PyObject *kwargs) {
    try {
        return Entry(self, args, kwargs);
    } catch (const PythonError &) {
        return nullptr;
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
}

template <PyObject *(*Entry)(PyObject *, PyObject *)>
PyObject *guardedPositional(PyObject *self, PyObject *args) {
    try {
        return Entry(self, args);
    } catch (const PythonError &) {
        return nullptr;
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
}

}  // namespace

namespace {

PyDoc_STRVAR(kDecodeDoc,
"decode($module, /, data, format='RGB', scale=1, min_width=0, min_height=0, threads=0, kernels='auto', "
"memory_limit=None, strict=False)\n--\n\n"
"Decodes a JPEG file held in memory into a new numpy array of uint8.\n\n"
"data: any object with the buffer protocol (bytes, bytearray, memoryview, mmap, a numpy\n"
"    array), read where it lies, without a copy.\n"
"format: 'RGB' (default), 'BGR', 'RGBA', 'BGRA' (alpha 255) or 'GREY'. The array is\n"
"    (H, W, 3), (H, W, 4) or, for 'GREY', (H, W). A colour file gives its luma as GREY;\n"
"    a grey file its level in every colour channel.\n"
"scale: 1, 2, 4 or 8: the picture 1/scale the size, each side rounded up.\n"
"min_width, min_height: when given, choose the scale: the largest reduction whose picture\n"
"    is still at least that wide and high (the thumbnail case; 1 when none is).\n"
"threads: 0 (default) as many as help, 1 the calling thread alone, N at most N.\n"
"kernels: the code that computes the pixels: 'auto' (the best the processor runs),\n"
"    'reference', 'plain', 'sse2' or 'avx2'; every set gives the same pixels.\n"
"memory_limit: most bytes of the picture, and apart from it of the decoder's working\n"
"    memory (None: 1 GiB; 0: no limit).\n"
"strict: raise JpgError for damaged data instead of warning.\n\n"
"Raises JpgError (a ValueError) with the library's reason when the file cannot be decoded,\n"
"MemoryError when memory could not be had, TypeError for an argument of the wrong kind.\n"
"Damaged or cut-short data gives the whole picture (what the data held, the rest filled in)\n"
"and a DamagedDataWarning, or with strict=True a JpgError whose code is 1.\n"
"The interpreter lock is released while the file is read and decoded.");

PyDoc_STRVAR(kDecodeIntoDoc,
"decode_into($module, /, data, out, format='RGB', scale=1, min_width=0, min_height=0, threads=0, "
"kernels='auto', memory_limit=None, strict=False)\n--\n\n"
"Decodes a JPEG file into the caller's array `out` and returns it: no allocation per picture.\n\n"
"out: a writable numpy array of uint8 whose shape is the picture's at the chosen scale:\n"
"    (H, W) for 'GREY', (H, W, 3) or (H, W, 4) for the others. Its rows must each be\n"
"    contiguous (a C-contiguous array, or rows of a larger one such as canvas[:H, :W]).\n"
"The other arguments, the warnings and the errors are decode()'s; decoded_shape() tells\n"
"the shape beforehand. The array is written in more than one pass (RGB rows are made as\n"
"B, G, R and turned in place): calls running at once need arrays of their own.");

PyDoc_STRVAR(kDecodedShapeDoc,
"decoded_shape($module, /, data, format='RGB', scale=1, min_width=0, min_height=0)\n--\n\n"
"The shape of the array decode() would give with these arguments, from the file's headers.");

PyDoc_STRVAR(kEncodeDoc,
"encode($module, /, array, format='RGB', quality=75, level=None, sampling='422', restart_interval=0, "
"preview=True, preview_layout=1, icc_profile=None, threads=0, kernels='auto')\n--\n\n"
"Encodes an array of uint8 pixels into a JPEG file, returned as bytes.\n\n"
"array: (H, W) or (H, W, 1) grey, (H, W, 3) colour, (H, W, 4) colour and a fourth byte\n"
"    that is ignored; any object with the buffer protocol of that shape. C-contiguous or\n"
"    not: rows whose pixels are contiguous are read where they lie, whatever their\n"
"    pitch; other layouts are copied first.\n"
"format: the channels' order: 'RGB' (default: R, G, B[, A]) or 'BGR' (B, G, R[, A]);\n"
"    'RGBA', 'BGRA' and 'GREY' are taken too and must agree with the array's channels.\n"
"quality: 1-100, the standard tables scaled as cjpeg -quality scales them.\n"
"level: when given, the exports' quantisation level decides instead of quality (any\n"
"    value iExportJPG takes): with sampling '422' (or a grey array), the preview on and\n"
"    no ICC profile, the bytes are those iExportJPG writes for the same picture.\n"
"sampling: '444', '422' (default), '420', or 'GREY' (a colour array gives its luma).\n"
"restart_interval: MCUs between restart markers, 0 none.\n"
"preview, preview_layout: write this library's 80 x 60 preview segment, with that\n"
"    layout tag.\n"
"icc_profile: an ICC profile (bytes-like) to embed, or None.\n"
"threads, kernels: as for decode().\n\n"
"Raises JpgError, MemoryError or TypeError as decode() does. The interpreter lock is\n"
"released while the pixels are encoded.");

PyDoc_STRVAR(kPreviewDoc,
"preview($module, /, data, format='RGB')\n--\n\n"
"The 80 x 60 preview that this library stores in the files it writes, as a numpy array\n"
"of uint8, (60, 80, 3) for 'RGB' (the default) and 'BGR', (60, 80, 4) for 'RGBA' and\n"
"'BGRA', (60, 80) for 'GREY'. JpgError when the file has no such preview.");

PyDoc_STRVAR(kInfoDoc,
"info($module, /, data)\n--\n\n"
"The fields of jpg.Info, in its order, as a tuple (jpg.info() makes the record).");

// A METH_VARARGS | METH_KEYWORDS entry as the method table holds it (through
// the generic function type, as CPython's own _PyCFunction_CAST does).
PyCFunction withKeywords(PyObject *(*entry)(PyObject *, PyObject *, PyObject *)) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

PyMethodDef kMethods[] = {
    {"decode", withKeywords(guarded<decode>), METH_VARARGS | METH_KEYWORDS, kDecodeDoc},
    {"decode_into", withKeywords(guarded<decodeIntoArray>), METH_VARARGS | METH_KEYWORDS,
     kDecodeIntoDoc},
    {"encode", withKeywords(guarded<encode>), METH_VARARGS | METH_KEYWORDS, kEncodeDoc},
    {"decoded_shape", withKeywords(guarded<decodedShape>), METH_VARARGS | METH_KEYWORDS,
     kDecodedShapeDoc},
    {"preview", withKeywords(guarded<readPreview>), METH_VARARGS | METH_KEYWORDS, kPreviewDoc},
    {"info", withKeywords(guarded<readInfo>), METH_VARARGS | METH_KEYWORDS, kInfoDoc},
    {"_time_c_decode", guardedPositional<timeCDecode>, METH_VARARGS,
     "_time_c_decode(data, repeats, format, scale, threads): seconds of each decode done by C alone."},
    {"_time_c_encode", guardedPositional<timeCEncode>, METH_VARARGS,
     "_time_c_encode(array, repeats, quality, threads): seconds of each encode done by C alone."},
    {nullptr, nullptr, 0, nullptr}};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "jpg._jpg", "The codec API of jpg_codec.h (see the package jpg).", -1,
                       kMethods,  nullptr, nullptr, nullptr, nullptr};

PyDoc_STRVAR(kJpgErrorDoc,
"A JPEG file or an argument the library refused: str(error) is its reason in plain words,\n"
"error.code the library's status: 1 damaged data (with strict=True), -1 an argument out of\n"
"range, -2 not a JPEG file, -3 a kind of file not decoded, -4 a malformed file, -5 more\n"
"memory or scans than the limits allow.");

PyDoc_STRVAR(kDamagedDataWarningDoc,
"The JPEG data was damaged or cut short: the picture is whole all the same, what the data\n"
"held and the rest filled in.");

}  // namespace

PyMODINIT_FUNC PyInit__jpg(void) {
    PyObject *numpy = PyImport_ImportModule("numpy");
    if (numpy == nullptr) return nullptr;
    gNumpyEmpty = PyObject_GetAttrString(numpy, "empty");
    gNumpyUint8 = PyObject_GetAttrString(numpy, "uint8");
    Py_DECREF(numpy);
    gJpgError = PyErr_NewExceptionWithDoc("jpg.JpgError", kJpgErrorDoc, PyExc_ValueError, nullptr);
    gDamagedDataWarning =
        PyErr_NewExceptionWithDoc("jpg.DamagedDataWarning", kDamagedDataWarningDoc, PyExc_UserWarning, nullptr);
    if (!gNumpyEmpty || !gNumpyUint8 || !gJpgError || !gDamagedDataWarning) return nullptr;
    PyObject *module = PyModule_Create(&kModule);
    if (module == nullptr) return nullptr;
    if (PyModule_AddObjectRef(module, "JpgError", gJpgError) != 0 ||
        PyModule_AddObjectRef(module, "DamagedDataWarning", gDamagedDataWarning) != 0 ||
        PyModule_AddStringConstant(module, "library_version", jpgVersion()) != 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
