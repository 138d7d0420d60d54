// The physics settings of QEVTest.ini: PHYSICSSUBSTEPS, how many equal
// sub-steps each frame's 1/30 s of physics is taken in (1: the whole step at
// once). Read at start-up, written back at shutdown.
#pragma once

class CIniEditX;
class CModelPhysics;

// The key of the "QEVTest" section.
inline constexpr char16_t kPhysicsSubstepsKey[] = u"PHYSICSSUBSTEPS";

// Sets the physics' sub-step count from the key. A missing key leaves the
// count as it is (the default); a value that is not a count from 1 to
// kMaxPhysicsSubsteps leaves it too, with one log line.
void ReadPhysicsSettings(CIniEditX& settings, CModelPhysics& physics);
// Writes the count in use back to the key, but only when the file has the
// key: a settings file that never named it is written as it always was.
// A bad value read at start-up is so replaced by the count that was used.
void StorePhysicsSettings(CIniEditX& settings, const CModelPhysics& physics);
