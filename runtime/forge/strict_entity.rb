# ORB::StrictEntity: entities with a fixed set of properties, stored in
# instance variables behind plain accessors. One subclass is made per
# entity name the first time `new_entity_strict` sees it; its properties
# are the keys known then, and using any other property raises.
module ORB
  class StrictEntity
    include Geometry

    BASE_ATTRIBUTES = [:entity_id, :entity_name, :entity_strict, :created_at,
                       :created_at_elapsed, :global_created_at_elapsed,
                       :entity_type, :entity_keys_by_ref].freeze

    attr_accessor(*BASE_ATTRIBUTES)

    # :@name for each property name, made once per name.
    IVAR_NAMES = {}

    class << self
      attr_reader :strict_name, :attribute_table, :attribute_order

      def __define_for__(entity_name, keys)
        klass = Class.new(StrictEntity)
        table = {}
        BASE_ATTRIBUTES.each { |key| table[key] = true }
        keys.each do |key|
          next if table[key]
          table[key] = true
          klass.send(:attr_accessor, key)
        end
        klass.instance_variable_set(:@strict_name, entity_name)
        klass.instance_variable_set(:@attribute_table, table.freeze)
        klass.instance_variable_set(:@attribute_order, table.keys.freeze)
        klass
      end

      def __ivar_name__(key)
        IVAR_NAMES[key] ||= :"@#{key}"
      end

      def __has_attribute__?(key)
        table = attribute_table
        table ? table.key?(key) : BASE_ATTRIBUTES.include?(key)
      end
    end

    def __init_strict__(entity_type, init_hash)
      @entity_id = Entity.id!
      @entity_name = entity_type
      @entity_type = entity_type
      @created_at = Kernel.tick_count
      @global_created_at_elapsed = Kernel.global_tick_count
      @entity_strict = true
      @entity_keys_by_ref = {}
      if init_hash
        init_hash.each do |k, v|
          instance_variable_set(StrictEntity.__ivar_name__(k.to_sym), v)
        end
      end
      self
    end

    def created_at_elapsed
      @created_at.is_a?(Numeric) ? Kernel.tick_count - @created_at : nil
    end

    # The instance variable holds the global tick of creation.
    def global_created_at_elapsed
      @global_created_at_elapsed.is_a?(Numeric) ? Kernel.global_tick_count - @global_created_at_elapsed : nil
    end

    def [](key)
      key = __strict_key__(key)
      __send__(key)
    end

    def []=(key, value)
      key = __strict_key__(key)
      __send__(:"#{key}=", value)
    end

    def set!(key, value)
      self[key] = value
    end

    def as_hash
      self
    end

    # Properties in the class's order, then any others, so that equal
    # entities print alike.
    def to_hash
      result = {}
      order = self.class.attribute_order || BASE_ATTRIBUTES
      order.each do |key|
        iv = StrictEntity.__ivar_name__(key)
        result[key] = instance_variable_get(iv) if instance_variable_defined?(iv)
      end
      instance_variables.each do |iv|
        key = iv.to_s[1..-1].to_sym
        result[key] = instance_variable_get(iv) unless result.key?(key)
      end
      result
    end

    def clear!
      instance_variables.each { |iv| instance_variable_set(iv, nil) }
      self
    end

    # Properties holding the same object (other than plain values) are
    # recorded as references to the first one, so loading the printed form
    # makes them one object again.
    def update_entity_keys_by_ref
      groups = {}
      order = []
      to_hash.each do |key, value|
        next if key == :entity_keys_by_ref || value.nil? || value.is_a?(ValueType)
        id = value.object_id
        group = groups[id]
        unless group
          group = []
          groups[id] = group
          order << group
        end
        group << key
      end
      refs = {}
      order.each do |group|
        next if group.length < 2
        first = group[0]
        i = 1
        while i < group.length
          refs[group[i]] = first
          i += 1
        end
      end
      @entity_keys_by_ref = refs
    end

    def inspect
      update_entity_keys_by_ref
      to_hash.inspect
    end

    def to_s
      inspect
    end

    def hash
      Entity.__log_once__(:hash_renamed_to_as_hash, ORB::Log::LEVEL_WARN, OpenEntity::HASH_RENAMED_WARNING)
      super
    end

    def attributes=(_value)
      raise OpenEntity::ATTRIBUTES_ERROR
    end

    # Also true for the entity name this entity's class was made for.
    def is_a?(klass)
      return super unless klass.is_a?(Symbol) || klass.is_a?(String)
      registered = Entity.strict_entities[klass]
      !registered.nil? && self.class <= registered
    end

    def method_missing(name, *args, &block)
      text = name.to_s
      text = text[0, text.length - 1] if text.end_with?("=")
      raise __strict_error__(text)
    end

    def respond_to_missing?(_name, _include_all = false)
      false
    end

    def __strict_key__(key)
      key = key.to_sym if key.is_a?(String)
      raise __strict_error__(key) unless self.class.__has_attribute__?(key)
      key
    end

    def __strict_error__(key)
      "* ERROR:\n" \
        "The *strict* entity with name :#{@entity_name} doesn't have the property #{key}. When converting\n" \
        "from \"new_entity\" to \"new_entity_strict\",\n" \
        "all possible properties must be defined when the entity was originially created. Make sure\n" \
        "#{key} is defined within args.state.new_entity_strict(:#{@entity_name}) do ... end.\n" \
        "\n"
    end
  end
end
