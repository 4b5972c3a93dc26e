# ORB::A11yEmulation: emulated accessibility focus for development.
module ORB
  class A11yEmulation
    attr_accessor :enabled

    def initialize
      @enabled = false
    end

    def tick(_args)
      nil
    end
  end
end
