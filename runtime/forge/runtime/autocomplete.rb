# ORB::Runtime::Autocomplete: method names offered by the console's Tab
# completion.
module ORB
  class Runtime
    module Autocomplete
      def autocomplete_methods
        (public_methods - Object.instance_methods).map(&:to_s).sort
      end
    end
  end
end
