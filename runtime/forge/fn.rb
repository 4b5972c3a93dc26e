# ORB::Fn: functional helpers reached as `args.fn`; the native engine adds
# its iteration functions to the class when the bindings are installed.
module ORB
  class Fn
  end
end
