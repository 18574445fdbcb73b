#pragma once

#include <cstdint>
#include <memory>

// A shared picture object: a type and the handle of its image.
enum class PictureType { None = 0, Bitmap = 1, Metafile = 2, Icon = 3 };

struct Picture {
    PictureType type = PictureType::None;
    uintptr_t handle = 0;
};

using PictureRef = std::shared_ptr<const Picture>;
