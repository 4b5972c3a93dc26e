# ORB::Wizards: the packaging wizards (`$wizards`); none ship in this build.
module ORB
  class Wizards
    def tick(_args)
      nil
    end
  end
end
