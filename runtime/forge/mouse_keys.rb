# Per-button views of the mouse (`mouse.key_down.left` and so on): each
# answers that button's click, held or up point.
module ORB
  # Queries by key name over the three per-tick key views (@key_down,
  # @key_held, @key_up), shared by the mouse and the controllers.
  module KeyStateQueries
    def key_down?(key)
      @key_down.__send__(key)
    end

    def key_held?(key)
      @key_held.__send__(key)
    end

    def key_up?(key)
      @key_up.__send__(key)
    end

    def key_down_or_held?(key)
      key_down?(key) || key_held?(key)
    end
  end

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
