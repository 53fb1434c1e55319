#pragma once

#include <cstdint>

// One loaded texture, filled by TextureLoader::LoadTextureFromDisk. The
// record needs no GL header, so that code which only keeps texture records
// (the viewer's state) stays GL-free; its fields hold GL's own values.
struct glTexture {
    std::uint32_t textureId = 0; // written only by a successful load
    std::int32_t imageType = 0;  // file-type code of the extension; not written for targa
    std::int32_t width = 0;      // size of the uploaded texture
    std::int32_t height = 0;
    std::uint32_t format = 0;      // GL_RGB or GL_RGBA
    std::int32_t bitsPerPixel = 0; // 32 for pictures, the header's depth for targa
};
