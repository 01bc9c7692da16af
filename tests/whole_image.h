// An update of the image as a whole, for the tests of the writers' safety:
// the old image read whole, the new one made in memory and written as one
// piece of the plan.
#pragma once

#include "io/files.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

using whole_image_edit = std::function<bool(const std::vector<std::uint8_t>& old, bool existed,
                                            std::vector<std::uint8_t>& updated)>;

inline cassmak::core::image_transform whole_image(whole_image_edit edit)
{
    auto updated = std::make_shared<std::vector<std::uint8_t>>();
    return [edit = std::move(edit), updated](const cassmak::core::old_file& old, bool existed,
                                             std::vector<cassmak::core::plan_piece>& plan) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(old.size));
        if (!bytes.empty() && !old.read(0, bytes.data(), bytes.size()))
            return false;
        updated->clear();
        if (!edit(bytes, existed, *updated))
            return false;
        plan = {{updated->data(), 0, updated->size()}};
        return true;
    };
}
