// The frame driver: the object a frame draws, the settings it hands over, the timed frame
// with its status line, and the spin frame. A frame draws through the frame function
// `strata render` uses.
#include "app/app_view.h"

#include <cmath>

#include "app/app_view_support.h"
#include "geometry/quaternion.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/fp_mode.h"
#include "platform/worker_pool.h"

namespace strata::app {

// ---- Frames ---------------------------------------------------------------------------------

ldi::FrameSettings AppView::CurrentFrameSettings() const {
    ldi::FrameSettings s;
    s.useSplat = useSplat;
    s.highQualitySplats = highQualitySplats;
    s.useDepthCorrection = useDepthCorrection;
    s.backfaceCulling = backfaceCulling;
    s.scanlineCulling = scanlineCulling;
    s.frustumClipper = frustumClipper;
    s.useFalseColor = useFalseColor;
    s.falseColorMode = falseColorMode;
    s.sizeAccurate = sizeAccurate;
    s.lowerHalfOnly = lowerToggle;
    s.upperHalfOnly = upperToggle;
    s.benchFlag = benchFlag;
    s.useTrunc = useTrunc;
    s.useSinglePrecision = useSinglePrecision;
    s.background = backgroundColor;
    s.horizonBackground = horizonBackground;
    s.worldUp = worldUp;
    s.groundColor = groundColor;
    return s;
}

void AppView::ChooseObject() {
    switch (displayMode) {
        case ModeLdiQp:
        case ModeLdiCp:
        case ModeLdiMrqp:
            drawLdi = ldi;
            break;
        case ModeLdiPyramid:
            drawLdi = nullptr;
            if (pyramid) {
                if (!freezeSelection) {
                    lookAtCentre = {0.0f, 0.0f, lookAtDepth};
                }
                drawLdi = ldi::ChooseLevel(*pyramid, viewCamera.pos, lookAtDepth, freezeSelection);
            }
            break;
        case ModeLdiSet:
            drawLdi = nullptr;
            if (ldiSet) {
                lookAtCentre = {0.0f, 0.0f, lookAtDepth};
                drawLdi = ldi::ChooseMemberAndLevel(*ldiSet, viewCamera.pos, lookAtDepth,
                                                    freezeSelection);
            }
            break;
        default:
            drawLdi = nullptr;
            break;
    }
}

void AppView::DrawMono() {
    if (targetImage == nullptr || targetImage->empty()) {
        return;
    }
    if (ldiLoaded == 0) {
        // Nothing open (or the first file failed): the background alone.
        drawLdi = nullptr;
        ldi::DrawFrameObject(nullptr, CurrentFrameSettings(), ldi::HandOver::all, warpMatrix,
                             viewCamera, *targetImage);
        return;
    }
    ChooseObject();
    if (displayMode == ModeVoxel) {
        ldi::DrawFrameVoxels(voxelModel.get(), CurrentFrameSettings(), warpMatrix, viewCamera,
                             *targetImage);
        return;
    }
    // Every setting goes to whatever level or member this frame draws, not only to the current
    // LDI the commands hand theirs to.
    ldi::FrameSettings settings = CurrentFrameSettings();
    if (drawLdi != nullptr && !DrawsHalvesAndBenchRows(*drawLdi)) {
        settings.lowerHalfOnly = false;
        settings.upperHalfOnly = false;
        settings.benchFlag = false;
    }
    // A chosen level or member that did not load: the last picture stays, and the status line
    // gives the reason.
    choiceFailure.clear();
    if (displayMode == ModeLdiPyramid && pyramid) {
        choiceFailure = ldi::ChosenLevelFailure(*pyramid);
    } else if (displayMode == ModeLdiSet && ldiSet) {
        choiceFailure = ldi::ChosenMemberFailure(*ldiSet);
    }
    if (!choiceFailure.empty()) {
        return;
    }
    ldi::DrawFrameObject(drawLdi, settings, ldi::HandOver::all, warpMatrix, viewCamera,
                         *targetImage);
}

void AppView::DrawFrame() {
    if (drawThreads > 0) {
        platform::setDrawThreads(drawThreads);
    } else if (!platform::drawThreadsAutomatic()) {
        platform::setDrawThreadsAutomatic();
    }
    {
        const platform::FpModeGuard modes(useTrunc, useSinglePrecision);
        if (stereoMode != 0) {
            DrawStereo();
        } else {
            DrawMono();
        }
    }
    Blit();
}

void AppView::Blit() {
    if (onBlit) {
        onBlit();
    }
}

void AppView::RenderFrame() {
    platform::takeDrawThreadsUsed();
    frameStopwatch.start = platform::steadyNanoseconds();
    if (!instrument) {
        DrawFrame();
    } else {
        CountedPasses();
        Blit();
    }
    frameStopwatch.stop = platform::steadyNanoseconds();
    messageBuffer = FrameStatus();
    if (!statusNote.empty()) {
        messageBuffer += "\t" + statusNote;
    }
    if (!choiceFailure.empty()) {
        messageBuffer += "\t" + choiceFailure;
    }
    SetStatus(messageBuffer);
}

std::string AppView::FrameStatus() {
    const double hz = frameStopwatch.rate();
    frameRate.add(frameStopwatch.start, frameStopwatch.stop);
    threadsDrawn = platform::takeDrawThreadsUsed();
    // The last frame's rate, the eye, the rate over the last half second and the threads that
    // drew the frame.
    return platform::formatString("hz: %6.2f\t<%6.2f %6.2f %6.2f>\tfps: %.1f\tthreads: %d", hz,
                                  navPosition.x, navPosition.y, navPosition.z,
                                  frameRate.perSecond(), threadsDrawn);
}

// ---- Spin and dump --------------------------------------------------------------------------

void AppView::SpinFrame() {
    // A turntable: the scene turns by spinAngle about the world's up axis through the centre of
    // its box, seen from the current navigation view; the navigation state itself stays.
    const Vector3 centre = (boundsMin + boundsMax) * 0.5f;
    const Vector3 w = geometry::normalized(worldUp);
    const double half = 0.5 * static_cast<double>(spinAngle);
    const Matrix4 spin = geometry::rotationMatrix(
        {w.x * std::sin(half), w.y * std::sin(half), w.z * std::sin(half), std::cos(half)});
    const Matrix4 aboutCentre = geometry::product(
        geometry::product(geometry::translation(centre.x, centre.y, centre.z), spin),
        geometry::translation(-centre.x, -centre.y, -centre.z));
    const Matrix4 rotation = NavigationRotation();
    const Matrix4 view = geometry::product(
        rotation, geometry::translation(-navPosition.x, -navPosition.y, -navPosition.z));
    RebuildFromViewMatrix(geometry::product(view, aboutCentre));
    if (displayMode == ModeLdiSet && ldiSet) {
        // The spin reselects the member about the look-at centre on the other side.
        const std::int32_t before = ldiSet->currentMember;
        ldi::ChooseMemberAndLevel(*ldiSet, viewCamera.pos, -lookAtDepth, freezeSelection);
        if (ldiSet->currentMember != before) {
            platform::debugPrintf("switched from %d to %d\t", before, ldiSet->currentMember);
            platform::debugPrintf("%f %f %f\n", static_cast<double>(viewCamera.dir.x),
                                  static_cast<double>(viewCamera.dir.y),
                                  static_cast<double>(viewCamera.dir.z));
        }
    }
    platform::takeDrawThreadsUsed();
    frameStopwatch.start = platform::steadyNanoseconds();
    DrawFrame();
    frameStopwatch.stop = platform::steadyNanoseconds();
    SetStatus(FrameStatus());
}

}  // namespace strata::app
