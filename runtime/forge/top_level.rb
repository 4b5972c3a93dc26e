# Top-level names of the runtime library: the constants the engine and
# games use, and `$top_level`, the main object on which the game's `tick`,
# `boot`, `reset`, `shutdown` and `unhandled_exception` are looked up.
ORBRuntime = ORB::Runtime
ORBCvar = ORB::Cvar
Cvars = ORB::Cvars
ORBTopLevelOutputs = ORB::TopLevelOutputs
Easing = ORB::Easing
Geometry = ORB::Geometry
Grid = ORB::Grid
Layout = ORB::Layout
ORB_VERSION = "6.24".freeze

$top_level = self
