# Per-button views of the mouse (`mouse.key_down.left` and so on): each
# answers that button's click, held or up point.
module ORB
  class MouseKeys
    def initialize(mouse)
      @mouse = mouse
    end

    def left
      __state__(@mouse.buttons.left)
    end

    def middle
      __state__(@mouse.buttons.middle)
    end

    def right
      __state__(@mouse.buttons.right)
    end

    def x1
      __state__(@mouse.buttons.x1)
    end

    def x2
      __state__(@mouse.buttons.x2)
    end

    def truthy_keys
      [:left, :middle, :right, :x1, :x2].select { |name| __send__(name) }
    end
  end

  class MouseKeysDown < MouseKeys
    def __state__(button)
      button.click
    end
  end

  class MouseKeysHeld < MouseKeys
    def __state__(button)
      button.held
    end
  end

  class MouseKeysUp < MouseKeys
    def __state__(button)
      button.up
    end
  end
end
