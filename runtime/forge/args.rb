# ORB::Args: the one `args` object handed to the game's tick, and
# AudioHash, the type of `args.audio` (sound name to sound Hash), which the
# engine reconciles with the playing sources after every tick.
class AudioHash < Hash
  def initialize(runtime = nil)
    super()
    @runtime = runtime
    @volume = runtime && runtime.platform?(:ios) ? 0.4 : 1.0
  end

  def volume
    runtime = @runtime
    if runtime && runtime.production? && runtime.platform?(:web) && Kernel.tick_count != 0 &&
       !runtime.args.inputs.keyboard.has_focus
      return 0.0
    end
    @volume
  end

  def volume=(value)
    value = value.to_f
    value = 0.0 if value < 0.0 || value.nan?
    value = 1.0 if value > 1.0
    @volume = value
  end

  def sync!
    runtime = @runtime || $orb
    runtime.update_simulation_audio_state if runtime
    nil
  end
end

module ORB
  class Args
    attr_accessor :inputs, :outputs, :audio, :grid, :state, :temp_state, :geometry, :fn,
                  :layout, :easing, :string, :events, :cvars, :passes,
                  :pixel_arrays, :wizards, :runtime, :render_target_sizes
    attr_writer :render_targets

    def initialize(runtime)
      @runtime = runtime
      @inputs = Inputs.new(touch_enabled: runtime.touch_enabled, locale_raw: runtime.locale_raw)
      @outputs = TopLevelOutputs.new(args: self)
      @audio = AudioHash.new(runtime)
      @grid = Grid.new(runtime)
      @state = OpenEntity.new
      @temp_state = OpenEntity.new
      @geometry = Geometry
      @fn = Fn
      @layout = Layout.new(@grid.w, @grid.h, @grid.aspect_ratio_w, @grid.aspect_ratio_h, runtime.orientation)
      @easing = Easing
      @string = String
      @events = { resize_occurred: false, orientation_changed: false, raw: [] }
      @cvars = Cvars.new
      @passes = []
      @render_targets = {}
      @render_target_sizes = {}
      @pixel_arrays = {}
      @wizards = $wizards
      @audio_before = {}
      @new_audio = []
    end

    alias orb runtime

    # The render targets of this tick, or the one named (created on first
    # use in a tick).
    def render_targets(name = nil)
      name.nil? ? @render_targets : render_target(name)
    end

    def recording
      @runtime.recording
    end

    def tick_count
      Kernel.tick_count
    end

    def global_tick_count
      Kernel.global_tick_count
    end

    def keyboard
      @inputs.keyboard
    end

    def mouse
      @inputs.mouse
    end

    def controller_one
      @inputs.controllers[0]
    end

    def controller_two
      @inputs.controllers[1]
    end

    def controller_three
      @inputs.controllers[2]
    end

    def controller_four
      @inputs.controllers[3]
    end

    RESERVED_TARGETS = ["pixel", "solid"].freeze

    def render_target(name)
      name = name.to_s
      target = @render_targets[name]
      return target if target
      if RESERVED_TARGETS.include?(name)
        raise "* ERROR: Unable to create render target with name ~#{name}~.\n" \
              "The render target name ~#{name}~ is reserved/used by Moonforge.\n" \
              "Please use another name for your render target.\n"
      end
      target = RenderTargetOutputs.new(args: self, target: name)
      size = @render_target_sizes[name]
      if size
        target.width = size[0]
        target.height = size[1]
      end
      @passes << target
      @render_targets[name] = target
    end

    def pixel_array(name)
      name = name.to_s
      @pixel_arrays[name] ||= PixelArray.new
    end

    # Before the game's tick: remember which sound entries exist already.
    def tick_before
      before = @audio_before
      before.clear unless before.empty?
      audio = @audio
      audio.each_value { |v| before[v.object_id] = true } unless audio.empty?
      nil
    end

    # After the game's tick: start new sounds silently first so that their
    # files are decoded before they are heard, then clear per-tick state.
    def tick_after
      audio = @audio
      unless audio.empty?
        fresh = @new_audio
        before = @audio_before
        audio.each_value do |v|
          fresh << v if v.is_a?(Hash) && !before.key?(v.object_id)
        end
        unless fresh.empty?
          gains = fresh.map do |v|
            gain = v.key?(:gain) ? v[:gain] : 1.0
            v[:gain] = 0
            @runtime.update_simulation_audio_state
            gain
          end
          fresh.each_with_index do |v, i|
            v[:playtime] = 0
            v[:gain] = gains[i]
            @runtime.update_simulation_audio_state
          end
          fresh.clear
        end
      end
      temp = @temp_state
      if temp.is_a?(OpenEntity)
        temp.clear! if temp.__touched__ || !temp.as_hash.empty?
        temp.__touched__ = false
      elsif temp.is_a?(Hash)
        temp.clear unless temp.empty?
      end
      events = @events
      events[:resize_occurred] = false
      events[:orientation_changed] = false
      raw = events[:raw]
      raw.clear unless raw.empty?
      touch = @inputs.touch
      touch.each_value { |t| t.first_tick_down = false } unless touch.empty?
      nil
    end

    def reset
      @outputs.reset
      @passes.clear
      @render_targets = {}
      @pixel_arrays = {}
      @audio.clear
      @events[:resize_occurred] = false
      @events[:orientation_changed] = false
      @events[:raw].clear
      nil
    end

    def serialize
      state = @state.is_a?(OpenEntity) ? @state.as_hash : @state
      temp = @temp_state.is_a?(OpenEntity) ? @temp_state.as_hash : @temp_state
      { tick_count: Kernel.tick_count, global_tick_count: Kernel.global_tick_count,
        state: state, temp_state: temp, inputs: @inputs.serialize,
        passes: @passes.length, audio: @audio.keys }
    end

    def inspect
      "#<ORB::Args tick_count: #{Kernel.tick_count}>"
    end

    def to_s
      inspect
    end
  end
end
