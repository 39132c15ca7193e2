#include "engine/imagelib/jpeg_coefficients.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace pimo::imagelib {

namespace {

// The library reports a fatal error by calling error_exit, which must not
// return: it jumps back to the caller. Warnings are ignored: a stream read
// with warnings still gives its coefficients.
struct ErrorManager {
    jpeg_error_mgr base{};
    std::jmp_buf jump{};
};

[[noreturn]] void ExitWithError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void IgnoreMessage(j_common_ptr, int) {}

void Install(ErrorManager& errors, j_common_ptr info) {
    info->err = jpeg_std_error(&errors.base);
    errors.base.error_exit = ExitWithError;
    errors.base.emit_message = IgnoreMessage;
}

// The markers a decoder keeps for writing again: every APPn and comment.
void SaveMarkers(jpeg_decompress_struct& info) {
    jpeg_save_markers(&info, JPEG_COM, 0xFFFF);
    for (int n = 0; n < 16; ++n) jpeg_save_markers(&info, JPEG_APP0 + n, 0xFFFF);
}

// Kept free of objects with destructors because of the jump.
bool ReadAll(jpeg_decompress_struct& info, ErrorManager& errors,
             std::span<const std::uint8_t> bytes, jvirt_barray_ptr*& arrays) {
    if (setjmp(errors.jump) != 0) return false;
    jpeg_create_decompress(&info);
    SaveMarkers(info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    arrays = jpeg_read_coefficients(&info);
    return arrays != nullptr;
}

// Copies every block of `plane` out of the library's array.
bool CopyFromArray(j_common_ptr info, ErrorManager& errors, jvirt_barray_ptr array,
                   CoefficientPlane& plane) {
    if (setjmp(errors.jump) != 0) return false;
    for (unsigned by = 0; by < plane.heightInBlocks; ++by) {
        JBLOCKARRAY rows = info->mem->access_virt_barray(info, array, by, 1, FALSE);
        for (unsigned bx = 0; bx < plane.widthInBlocks; ++bx)
            std::memcpy(plane.block(bx, by), rows[0][bx], sizeof(JBLOCK));
    }
    return true;
}

// Copies every block of `plane` into the library's array.
bool CopyToArray(j_common_ptr info, ErrorManager& errors, jvirt_barray_ptr array,
                 const CoefficientPlane& plane) {
    if (setjmp(errors.jump) != 0) return false;
    for (unsigned by = 0; by < plane.heightInBlocks; ++by) {
        JBLOCKARRAY rows = info->mem->access_virt_barray(info, array, by, 1, TRUE);
        for (unsigned bx = 0; bx < plane.widthInBlocks; ++bx)
            std::memcpy(rows[0][bx], plane.block(bx, by), sizeof(JBLOCK));
    }
    return true;
}

// The source's markers, except a JFIF or Adobe header the writer makes
// itself from the copied parameters.
void CopyMarkers(const jpeg_decompress_struct& from, jpeg_compress_struct& to) {
    for (jpeg_saved_marker_ptr marker = from.marker_list; marker; marker = marker->next) {
        const bool jfif = marker->marker == JPEG_APP0 && marker->data_length >= 5 &&
                          std::memcmp(marker->data, "JFIF", 5) == 0;
        const bool adobe = marker->marker == JPEG_APP0 + 14 && marker->data_length >= 5 &&
                           std::memcmp(marker->data, "Adobe", 5) == 0;
        if ((jfif && to.write_JFIF_header) || (adobe && to.write_Adobe_marker)) continue;
        jpeg_write_marker(&to, marker->marker, marker->data, marker->data_length);
    }
}

}  // namespace

struct JpegCoefficients::Data {
    ErrorManager errors;
    jpeg_decompress_struct info{};
    jvirt_barray_ptr* arrays = nullptr;
    std::vector<std::uint8_t> bytes;  // the stream the library read, kept for its markers
    std::vector<CoefficientPlane> planes;
    std::vector<QuantTable> tables;  // by plane

    Data() = default;
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;
    ~Data() { jpeg_destroy_decompress(&info); }
};

JpegCoefficients::JpegCoefficients() = default;
JpegCoefficients::~JpegCoefficients() = default;
JpegCoefficients::JpegCoefficients(JpegCoefficients&&) noexcept = default;
JpegCoefficients& JpegCoefficients::operator=(JpegCoefficients&&) noexcept = default;

JpegCoefficients JpegCoefficients::Read(std::span<const std::uint8_t> bytes) {
    JpegCoefficients read;
    if (bytes.empty()) return read;
    auto data = std::make_unique<Data>();
    data->bytes.assign(bytes.begin(), bytes.end());
    Install(data->errors, reinterpret_cast<j_common_ptr>(&data->info));
    if (!ReadAll(data->info, data->errors, data->bytes, data->arrays)) return read;
    const jpeg_decompress_struct& info = data->info;
    if (info.num_components != 1 && info.num_components != 3) return read;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        const JQUANT_TBL* table = component.quant_table;
        if (!table) return read;
        CoefficientPlane plane;
        plane.hSampling = component.h_samp_factor;
        plane.vSampling = component.v_samp_factor;
        plane.widthInBlocks = component.width_in_blocks;
        plane.heightInBlocks = component.height_in_blocks;
        plane.table = component.quant_tbl_no;
        plane.values.resize(std::size_t{plane.widthInBlocks} * plane.heightInBlocks * 64);
        if (!CopyFromArray(reinterpret_cast<j_common_ptr>(&data->info), data->errors,
                           data->arrays[c], plane))
            return read;
        QuantTable quant{};
        std::copy(std::begin(table->quantval), std::end(table->quantval), quant.begin());
        data->planes.push_back(std::move(plane));
        data->tables.push_back(quant);
    }
    read.m_data = std::move(data);
    return read;
}

bool JpegCoefficients::valid() const {
    return m_data != nullptr;
}
unsigned JpegCoefficients::width() const {
    return m_data ? m_data->info.image_width : 0;
}
unsigned JpegCoefficients::height() const {
    return m_data ? m_data->info.image_height : 0;
}
int JpegCoefficients::maxHSampling() const {
    return m_data ? m_data->info.max_h_samp_factor : 1;
}
int JpegCoefficients::maxVSampling() const {
    return m_data ? m_data->info.max_v_samp_factor : 1;
}
const std::vector<CoefficientPlane>& JpegCoefficients::planes() const {
    static const std::vector<CoefficientPlane> none;
    return m_data ? m_data->planes : none;
}
const QuantTable& JpegCoefficients::tableOf(std::size_t plane) const {
    return m_data->tables.at(plane);
}

namespace {

struct WriteState {
    jpeg_compress_struct info{};
    ErrorManager errors;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

// Kept free of objects with destructors because of the jump.
bool Compress(WriteState& state, jpeg_decompress_struct& from, jvirt_barray_ptr* arrays,
              const int* slots, const QuantTable* tables, int planeCount, bool progressive) {
    jpeg_compress_struct& info = state.info;
    if (setjmp(state.errors.jump) != 0) return false;
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &state.buffer, &state.size);
    jpeg_copy_critical_parameters(&from, &info);
    for (int c = 0; c < planeCount; ++c) {
        JQUANT_TBL*& table = info.quant_tbl_ptrs[slots[c]];
        if (!table) table = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(&info));
        for (int k = 0; k < 64; ++k) table->quantval[k] = tables[c][static_cast<std::size_t>(k)];
        table->sent_table = FALSE;
        info.comp_info[c].quant_tbl_no = slots[c];
    }
    info.optimize_coding = TRUE;
    if (progressive) jpeg_simple_progression(&info);
    jpeg_write_coefficients(&info, arrays);
    CopyMarkers(from, info);
    jpeg_finish_compress(&info);
    return true;
}

}  // namespace

std::vector<std::uint8_t> JpegCoefficients::Write(const std::vector<CoefficientPlane>& planes,
                                                  const std::vector<QuantTable>& tables,
                                                  bool progressive) const {
    if (!m_data || planes.size() != m_data->planes.size() || tables.size() != planes.size())
        return {};
    for (std::size_t c = 0; c < planes.size(); ++c) {
        const CoefficientPlane& mine = m_data->planes[c];
        if (planes[c].widthInBlocks != mine.widthInBlocks ||
            planes[c].heightInBlocks != mine.heightInBlocks ||
            planes[c].values.size() != mine.values.size())
            return {};
        for (std::uint16_t q : tables[c]) {
            if (q < 1 || q > 255) return {};  // baseline tables hold bytes
        }
    }
    // One slot per distinct table, in the order the planes first use them.
    int slots[MAX_COMPONENTS] = {};
    int used = 0;
    for (std::size_t c = 0; c < planes.size(); ++c) {
        int slot = used;
        for (std::size_t d = 0; d < c; ++d) {
            if (tables[d] == tables[c]) slot = slots[d];
        }
        if (slot == used) ++used;
        slots[c] = slot;
    }
    if (used > NUM_QUANT_TBLS) return {};

    // The library writes from its own arrays: the source's, filled anew.
    j_common_ptr source = reinterpret_cast<j_common_ptr>(&m_data->info);
    for (std::size_t c = 0; c < planes.size(); ++c) {
        if (!CopyToArray(source, m_data->errors, m_data->arrays[c], planes[c])) return {};
    }
    WriteState state;
    Install(state.errors, reinterpret_cast<j_common_ptr>(&state.info));
    const bool written = Compress(state, m_data->info, m_data->arrays, slots, tables.data(),
                                  static_cast<int>(planes.size()), progressive);
    std::vector<std::uint8_t> bytes;
    if (written && state.buffer) bytes.assign(state.buffer, state.buffer + state.size);
    jpeg_destroy_compress(&state.info);
    std::free(state.buffer);
    return bytes;
}

}  // namespace pimo::imagelib
