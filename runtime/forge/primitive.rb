# ORB::Primitive: the accessor modules that turn Arrays and other objects
# into primitives. Their accessors arrive with the array primitives.
module ORB
  module Primitive
    module ConversionCapabilities; end
    module Point; end
    module Rect; end
    module Color; end
    module Sprite; end
    module Label; end
    module Solid; end
    module Border; end
    module Line; end
    module Triangle; end
  end
end
