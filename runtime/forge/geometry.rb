# ORB::Geometry: the geometry mix-in and module functions (`Geometry` at the
# top level). The native engine adds its geometry functions to this module
# when the bindings are installed.
module ORB
  module Geometry
  end
end
