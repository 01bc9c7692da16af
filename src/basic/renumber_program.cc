#include "basic/renumber_program.h"

#include "basic/check_messages.h"
#include "basic/program_format.h"
#include "basic/references.h"
#include "tape/blocks.h"
#include "tape/spans.h"
#include "tape/words.h"

#include <algorithm>
#include <unordered_map>

namespace cassmak::core {

namespace {

struct stored_record {
    std::size_t at = 0; // of its link
    std::uint16_t number = 0;
    std::string_view text;
};

std::string record_place(std::size_t index, std::uint16_t number)
{
    return "line " + std::to_string(number) + " (record " + std::to_string(index + 1) + ")";
}

void put_word(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    std::uint8_t word[2];
    store_word(word, value);
    out.insert(out.end(), word, word + 2);
}

} // namespace

program_renumber renumber_program(const std::uint8_t* image, std::size_t size,
                                  const renumber_settings& settings)
{
    program_renumber result;
    std::vector<stored_record> records;
    std::size_t at = 0;
    for (;;) {
        if (at + end_link_size > size) {
            result.status = work_failed;
            result.message = "the program ends without its zero link";
            return result;
        }
        if (load_word(image + at) == 0)
            break;
        const auto* text = image + at + record_text;
        const auto* end =
            at + record_text <= size ? std::find(text, image + size, 0) : image + size;
        if (at + record_text > size || end == image + size) {
            result.status = work_failed;
            result.message = "record " + std::to_string(records.size() + 1) +
                             " runs past the end of the program";
            return result;
        }
        records.push_back(
            {at,
             load_word(image + at + record_number),
             {reinterpret_cast<const char*>(text), static_cast<std::size_t>(end - text)}});
        at = static_cast<std::size_t>(end - image) + 1;
    }
    const std::size_t tail = at + end_link_size;
    result.message = numbering_refusal(records.size(), settings);
    if (!result.message.empty()) {
        result.status = work_failed;
        return result;
    }

    std::unordered_map<std::uint32_t, std::uint32_t> moved;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto number = static_cast<std::uint16_t>(settings.start + settings.step * i);
        moved.emplace(records[i].number, number);
        result.moves.emplace_back(records[i].number, number);
    }
    std::vector<std::uint8_t>& out = result.image;
    out.reserve(size + size / 8);
    std::vector<line_reference> found;
    std::string text;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string_view old = records[i].text;
        find_stored_references(old, found);
        text.clear();
        std::size_t copied = 0;
        for (const line_reference& reference : found) {
            text.append(old.substr(copied, reference.at - copied));
            copied = reference.at + reference.length;
            const std::string_view digits = old.substr(reference.at, reference.length);
            const auto target = moved.find(reference_value(digits));
            if (target == moved.end()) {
                result.warnings.push_back(record_place(i, records[i].number) + ": " +
                                          missing_target_message(digits));
                text.append(digits);
            } else {
                text.append(std::to_string(target->second));
            }
        }
        text.append(old.substr(copied));
        const std::size_t record_at = out.size();
        put_word(out, static_cast<std::uint32_t>(basic_base_address + record_at +
                                                 record_size(text.size())));
        put_word(out, result.moves[i].second);
        out.insert(out.end(), text.begin(), text.end());
        out.push_back(record_terminator);
    }
    put_word(out, 0);
    out.insert(out.end(), image + tail, image + size);
    if (out.size() - (size - tail) > static_cast<std::size_t>(basic_image_max) ||
        out.size() > 0xFFFF) {
        result.status = work_failed;
        result.message = "the program renumbered would take " + std::to_string(out.size()) +
                         " bytes, more than its links or the tape's length field can hold";
        result.image.clear();
        return result;
    }
    result.status = result.warnings.empty() ? work_sound : work_damaged;
    return result;
}

bool plan_renumber(const image_source& old, const std::string& path, const std::string& entry_word,
                   std::size_t entry, const renumber_settings& settings, const change_lines& lines,
                   change_plan& plan)
{
    entry_bounds bounds;
    if (!find_entry_bounds(old, path, entry_word, entry, bounds, plan))
        return false;
    if (plan.status == change_refused)
        return true;
    tape_entry chosen;
    std::vector<std::uint8_t> window;
    if (!read_entry(old.read, bounds, entry - 1, window, chosen))
        return false;
    if (chosen.kind != entry_kind::file || chosen.data_checksum == data_checksum_state::absent)
        return refuse(plan, entry_label(path, chosen) + " is " +
                                (chosen.kind == entry_kind::headless    ? "a headless block"
                                 : chosen.kind == entry_kind::truncated ? "a truncated tail"
                                                                        : "a file without data") +
                                ": it holds no program to renumber");
    if (chosen.type != basic_file_type)
        return refuse(plan, entry_label(path, chosen) + " (" + describe_entry(chosen) +
                                ") is not a BASIC program (type '>')");
    if (entry_damaged(chosen))
        return refuse(plan, damage_label(path, chosen) + "; not renumbered");
    program_renumber renumbered =
        renumber_program(window.data() + chosen.payload_offset, chosen.payload_size, settings);
    if (renumbered.status == work_failed)
        return refuse(plan,
                      entry_label(path, chosen) + ": " + renumbered.message + "; not renumbered");
    for (const std::string& warning : renumbered.warnings)
        plan.notes.push_back(entry_label(path, chosen) + ": " + warning);
    if (!renumbered.warnings.empty())
        plan.status = change_forced;
    if (lines)
        lines("renumbered entry " + std::to_string(chosen.entry) + " (" + describe_entry(chosen) +
              "): " + std::to_string(renumbered.moves.size()) + " lines from " +
              std::to_string(settings.start) + " by " + std::to_string(settings.step) + "\n");

    // The header with its new length, then the data block made again.
    const std::vector<std::uint8_t>& payload = renumbered.image;
    std::vector<std::uint8_t>& held = plan.held;
    constexpr std::size_t head = block_length_size + header_body_size;
    held.assign(window.begin(), window.begin() + head);
    std::uint8_t* file_head = held.data() + block_length_size + file_head_offset;
    store_word(file_head + head_length, static_cast<std::uint32_t>(payload.size() - 1));
    std::uint8_t sum = 0;
    sum_bytes(file_head, static_cast<int>(file_head_size), sum);
    held[block_length_size + header_checksum_offset] = sum;
    put_word(held, static_cast<std::uint32_t>(payload.size() + 1));
    held.insert(held.end(), payload.begin(), payload.end());
    sum = 0;
    sum_bytes(payload.data(), static_cast<int>(payload.size()), sum);
    held.push_back(sum);
    add_old_span(plan.pieces, 0, bounds.offset);
    plan.pieces.push_back({held.data(), 0, held.size()});
    add_old_span(plan.pieces, bounds.offset + bounds.span, old.size - bounds.offset - bounds.span);
    return true;
}

change_outcome renumber_change(std::vector<std::uint8_t>&& old, const std::string& path,
                               const std::string& entry_word, std::size_t entry,
                               const renumber_settings& settings)
{
    const image_bytes_reader read = memory_reader(old.data(), old.size());
    change_plan plan;
    change_outcome outcome;
    plan_renumber(
        image_source{old.size(), read}, path, entry_word, entry, settings,
        [&](const std::string& line) { outcome.lines += line; }, plan);
    outcome.status = plan.status;
    if (plan.status == change_refused) {
        outcome.message = std::move(plan.message);
        outcome.lines.clear();
        return outcome;
    }
    outcome.notes = std::move(plan.notes);
    assemble_plan(plan.pieces, read, outcome.image);
    return outcome;
}

} // namespace cassmak::core
