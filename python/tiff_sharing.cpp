// SPDX-License-Identifier: Apache-2.0
// What lets a TIFF image be shared: by threads (the page cache's budget and
// counters, the threads that decode one read) and by processes (pickles that
// reopen the file, dask tokens that name its content without reading it).
#include <pybind11/eval.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <string>

#include "bindings.h"
#include "errors.h"
#include "pickling.h"
#include "tiff_object.h"

namespace ekpy {
namespace {

py::handle cacheStatsType;  // eks.CacheStats; lives with the interpreter

const char* kCacheStatsSource = R"(
from collections import namedtuple


class CacheStats(namedtuple("CacheStats", "hits misses evictions")):
    """Counters of a TiffImage's page cache since the file was opened: pages
    found in the cache, pages decoded into it, pages evicted from it. Also
    indexed by name: stats["hits"]."""

    __slots__ = ()

    def __getitem__(self, key):
        """A counter by name ("hits") or by position."""
        return getattr(self, key) if isinstance(key, str) else super().__getitem__(key)
)";

// Refuses what cannot be pickled: a closed file, and a created one, whose
// unwritten pages live in this process only.
void checkPicklable(PyTiffImage& self) {
    bool closed, writable;
    {
        ImageLock lock(self, Use::Read);
        closed = self.tiff()->isClosed() != 0;
        writable = !self.readOnly();
    }
    if (closed)
        fail(ekNotAllowed,
             "pickle: the TiffImage is closed; open the file again with eks.TiffImage(path)");
    if (writable)
        fail(ekNotAllowed,
             "pickle: a TiffImage created for writing cannot be pickled (its unwritten pages "
             "live in this process); close() it and pickle eks.TiffImage(path), the file "
             "opened for reading");
}

py::tuple reduceTiff(const py::object& self) {
    auto& image = self.cast<PyTiffImage&>();
    checkPicklable(image);
    py::dict kwargs, state = commonState(self);
    kwargs["path"] = image.absolutePath();
    kwargs["level"] = image.opened().level;
    kwargs["palette_indices"] = image.opened().paletteIndices;
    state["cache_bytes"] = self.attr("cache_bytes");
    state["threads"] = self.attr("threads");
    return reduceTo(self, kwargs, state);
}

template <class F>
auto query(PyTiffImage& self, F&& f) {
    ImageLock lock(self, Use::Read);
    return f(self.tiff());
}

template <class F>
void change(PyTiffImage& self, const char* what, F&& f) {
    ImageLock lock(self, Use::Change);
    checkLocked(self, f(self.tiff()), what);
}

}  // namespace

void PyTiffImage::takeStamp() {
    py::module_ os = py::module_::import("os");
    absolute_ = os.attr("path").attr("abspath")(os.attr("fsdecode")(py::bytes(path_)));
    if (!readOnly()) {
        stamp_ = py::make_tuple("created", py::module_::import("uuid").attr("uuid4")().attr("hex"));
        return;
    }
    py::object st = os.attr("stat")(absolute_);
    stamp_ = py::make_tuple(absolute_, st.attr("st_size"), st.attr("st_mtime_ns"), opened_.level,
                            opened_.paletteIndices);
}

void bindTiffSharing(py::module_& m, TiffClass& cls) {
    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    scope["__name__"] = "eks";
    py::exec(kCacheStatsSource, scope);
    cacheStatsType = py::object(scope["CacheStats"]).release();
    m.attr("CacheStats") = cacheStatsType;

    cls.def_property(
           "cache_bytes",
           [](PyTiffImage& self) {
               return query(self, [](ekTiffImg* t) { return t->getCacheBytes(); });
           },
           [](PyTiffImage& self, int64_t bytes) {
               change(self, "cache_bytes", [&](ekTiffImg* t) { return t->setCacheBytes(bytes); });
           },
           "Byte budget of the page cache (64 MiB unless set); a smaller one evicts at once, "
           "0 keeps only the page in use.")
        .def_property_readonly(
            "cache_stats",
            [](PyTiffImage& self) {
                int64_t hits, misses, evictions;
                query(self, [&](ekTiffImg* t) {
                    hits = t->getCacheHits();
                    misses = t->getCacheMisses();
                    evictions = t->getCacheEvictions();
                    return 0;
                });
                return cacheStatsType(hits, misses, evictions);
            },
            "eks.CacheStats(hits, misses, evictions) of the page cache since the file was "
            "opened.")
        .def_property(
            "threads",
            [](PyTiffImage& self) {
                return query(self, [](ekTiffImg* t) { return t->getThreads(); });
            },
            [](PyTiffImage& self, int n) {
                change(self, "threads", [&](ekTiffImg* t) { return t->setThreads(n); });
            },
            "Threads that decode the pages of one read and encode those of one flush or "
            "of the overviews being built, the calling thread included (it also moves "
            "the decoded pages): 0 sets the number of cores, 1 uses no pool.")
        .def("__reduce__", &reduceTiff,
             "Pickles the absolute path, level, cache budget, thread count and fill of a file "
             "opened for reading, which unpickling opens again. Created files refuse "
             "(NotAllowedError): close one and pickle the file opened for reading.")
        .def(
            "__dask_tokenize__",
            [](const py::object& self) {
                return commonToken(self) + py::tuple(self.cast<PyTiffImage&>().stamp());
            },
            "A token from the absolute path, size and modification time of the file when it "
            "was opened, and the level opened (a created file: a token of its own), so that "
            "dask names tasks without reading pixels.");
}

}  // namespace ekpy
