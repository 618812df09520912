#include "maps/blendmode.h"

QPainter::CompositionMode LayerComposition(const QString& mode) {
    static const struct {
        const char* name;
        QPainter::CompositionMode composition;
    } modes[] = {
        {"add", QPainter::CompositionMode_Plus},
        {"multiply", QPainter::CompositionMode_Multiply},
        {"screen", QPainter::CompositionMode_Screen},
        {"overlay", QPainter::CompositionMode_Overlay},
        {"darken", QPainter::CompositionMode_Darken},
        {"lighten", QPainter::CompositionMode_Lighten},
        {"color-dodge", QPainter::CompositionMode_ColorDodge},
        {"color-burn", QPainter::CompositionMode_ColorBurn},
        {"hard-light", QPainter::CompositionMode_HardLight},
        {"soft-light", QPainter::CompositionMode_SoftLight},
        {"difference", QPainter::CompositionMode_Difference},
        {"exclusion", QPainter::CompositionMode_Exclusion},
    };
    for (const auto& m : modes) {
        if (mode == QLatin1String(m.name)) {
            return m.composition;
        }
    }
    return QPainter::CompositionMode_SourceOver;
}
