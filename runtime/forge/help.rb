# ORB::Help: the in-game help entry point.
module ORB
  class Help
    def self.docs
      "* Documentation is not part of this build."
    end
  end
end
