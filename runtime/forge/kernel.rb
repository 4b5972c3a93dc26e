# Kernel extensions: the two tick counters every part of the runtime and
# every game reads, and the output functions (`puts`, `print`, `p`,
# `require`) that game code uses, routed through the engine log and the
# runtime's reload protocol.
module Kernel
  @tick_count = -1
  @global_tick_count = -1

  class << self
    # Game ticks: -1 while booting, frozen while the game is paused.
    attr_accessor :tick_count

    # Engine steps: advances whenever the runtime is running, never reset
    # by the game.
    attr_accessor :global_tick_count
  end

  def puts(*objs)
    ORB::Log.__puts__(objs)
    nil
  end

  def print(*objs)
    ORB::Log.__print__(objs)
    nil
  end

  def p(*objs)
    ORB::Log.__p__(objs)
    case objs.length
    when 0 then nil
    when 1 then objs[0]
    else objs
    end
  end

  def require(path)
    runtime = $orb
    raise "cannot load such file -- #{path}" unless runtime
    runtime.require(path)
  end
end
